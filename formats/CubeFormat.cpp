// The cube format (identifier 0, ".cube"): a 3D table, an optional 1D table
// and their domains, one entry of three numbers per line, the innermost loop
// index varying fastest; a file with both tables gives the 1D entries first. The reader is tolerant: it skips comments, works
// out the size of a headerless file from its number of data lines, and
// reads integer data after a "Mesh" line.

#include "lut/LutLog.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QDebug>

#include <cmath>
#include <cstring>

namespace {


// The number on a size line: the keyword and one blank (or tab) after it are
// removed and the rest must be a decimal integer alone; anything else is 0.
int sizeValue(QString line, const QString &keyword)
{
    line.remove(keyword + QLatin1Char(' '));
    line.remove(keyword + QLatin1Char('\t'));
    bool ok = false;
    const int value = line.trimmed().toInt(&ok);
    return ok ? value : 0;
}

// The text after a keyword, for scanning its numbers.
QString keywordArguments(QString line, const QString &keyword)
{
    line.remove(keyword + QLatin1Char(' '));
    line.remove(keyword + QLatin1Char('\t'));
    return line;
}

// Why a size line gives no size. When the number taken from it (0 for
// none) is not what the line says (a number beyond the integers, or no
// number), the reason names the line's own text.
QString sizeError(const QString &line, const QString &keyword, int taken, const QString &reason, const char *what,
                  int limit)
{
    const QString text = keywordArguments(line, keyword).trimmed();
    if (text == QString::number(taken))
        return reason;
    bool digits = !text.isEmpty();
    for (const QChar c : text)
        digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    if (digits)
        return QStringLiteral("%1 %2 is above the limit of %3").arg(QLatin1String(what), text).arg(limit);
    return QStringLiteral("\"%1\" is not a %2").arg(text, QLatin1String(what));
}

bool isSkippedDataLine(const QByteArray &line)
{
    return line.isEmpty() || line.at(0) == '#' || line.at(0) == 'x';
}

bool domainIsValid(const float lo[3], const float hi[3])
{
    return hi[0] > lo[0] && hi[1] > lo[1] && hi[2] > lo[2];
}

} // namespace

bool Read_LUTFile::readCube(QString fileName, bool headerOnly)
{
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));

    applyDefaultOrder(LutFormatId::Cube);
    meshIntegerMode = false;
    meshIntegerScale = 1;

    // Header pass: sizes, domains and the integer mode; counts data lines so
    // that a file without a size line still has one.
    qint64 dataLines = 0;
    // LUT_3D_INPUT_RANGE (min x3, max x3), and whether DOMAIN_MIN/MAX or
    // LUT_1D_INPUT_RANGE came, to tell which table a domain belongs to.
    double inputRange3D[6] = {0.0, 0.0, 0.0, 1.0, 1.0, 1.0};
    bool haveDomain = false, have1DRange = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1Char('#'))) {
            qCDebug(lcLutRead) << "#:" << line;
        } else if (line.startsWith(QLatin1Char('x'))) {
            qCDebug(lcLutRead) << "x:" << line;
        } else if (line.contains(QLatin1String("LUT_3D_SIZE"))) {
            const int n = sizeValue(line, QStringLiteral("LUT_3D_SIZE"));
            if (!setSize3D(n, headerOnly))
                return fail(QStringLiteral("line %1: LUT_3D_SIZE: %2")
                                .arg(in.lineNumber())
                                .arg(sizeError(line, QStringLiteral("LUT_3D_SIZE"), n, errorString, "cube size", kMaxCubeSize)));
        } else if (line.contains(QLatin1String("TITLE"))) {
            qCDebug(lcLutRead) << "TITLE:" << line;
        } else if (line.contains(QLatin1String("DOMAIN_MIN"))) {
            float v[3] = {0.0f, 0.0f, 0.0f};
            if (LutScan::scan(keywordArguments(line, QStringLiteral("DOMAIN_MIN")), "%f %f %f", &v[0], &v[1],
                              &v[2]) >= 1) {
                for (int c = 0; c < 3; ++c)
                    domainMin3D[c] = v[c];
                haveDomain = true;
            }
        } else if (line.contains(QLatin1String("DOMAIN_MAX"))) {
            float v[3] = {0.0f, 0.0f, 0.0f};
            if (LutScan::scan(keywordArguments(line, QStringLiteral("DOMAIN_MAX")), "%f %f %f", &v[0], &v[1],
                              &v[2]) >= 1) {
                for (int c = 0; c < 3; ++c)
                    domainMax3D[c] = v[c];
                haveDomain = true;
            }
        } else if (line.contains(QLatin1String("LUT_1D_SIZE"))) {
            const int n = sizeValue(line, QStringLiteral("LUT_1D_SIZE"));
            if (!setSize1D(n, headerOnly))
                return fail(QStringLiteral("line %1: LUT_1D_SIZE: %2")
                                .arg(in.lineNumber())
                                .arg(sizeError(line, QStringLiteral("LUT_1D_SIZE"), n, errorString, "1D size", kMax1DSize)));
        } else if (line.contains(QLatin1String("LUT_1D_INPUT_RANGE"))) {
            float lo = 0.0f, hi = 0.0f;
            if (LutScan::scan(keywordArguments(line, QStringLiteral("LUT_1D_INPUT_RANGE")), "%f %f", &lo, &hi)
                >= 1) {
                for (int c = 0; c < 3; ++c) {
                    domainMin1D[c] = lo;
                    domainMax1D[c] = hi;
                }
                have1DRange = true;
            }
        } else if (line.contains(QLatin1String("LUT_3D_INPUT_RANGE"))) {
            // The 3D table's input span; only a read for baking applies it.
            double lo = 0.0, hi = 0.0;
            if (LutScan::scan(keywordArguments(line, QStringLiteral("LUT_3D_INPUT_RANGE")), "%lf %lf", &lo, &hi) == 2) {
                for (int c = 0; c < 3; ++c) {
                    inputRange3D[c] = lo;
                    inputRange3D[c + 3] = hi;
                }
            }
        } else if (line.startsWith(QLatin1String("Mesh"))) {
            // "Mesh a b": integers follow, scaled by 2^b. Without two sane
            // integers the scale stays 1.
            meshIntegerMode = true;
            int a = 0, b = 0;
            if (LutScan::scan(line.mid(5), "%d %d", &a, &b) == 2 && b >= 0 && b <= 30)
                meshIntegerScale = int(std::pow(2.0, b));
        } else {
            ++dataLines;
            if (size3D >= 1)
                break;
        }
    }
    if (in.atEnd() && dataLines != 0 && size3D == 0 && size1D == 0) {
        const int n = int(std::pow(double(dataLines), 0.3333333333333333) + 0.5);
        if (!setSize3D(n, headerOnly))
            return fail(QStringLiteral("%1 data lines without a size line: %2").arg(dataLines).arg(errorString));
    }

    if (!in.rewind())
        return fail(QStringLiteral("cannot read the file again: %1").arg(in.errorString()));

    if (!headerOnly) {
        if (size3D >= 1 && !domainIsValid(domainMin3D, domainMax3D))
            return fail(QStringLiteral("DOMAIN_MAX must be above DOMAIN_MIN on every axis"));
        if (size1D >= 1 && !domainIsValid(domainMin1D, domainMax1D))
            return fail(QStringLiteral("LUT_1D_INPUT_RANGE must have its maximum above its minimum"));

        // The domains are the input spans of the tables, and a 1D table
        // stands in front of the 3D one. DOMAIN_MIN/MAX belong to the 3D
        // table, or to the 1D table of a file without one (unless
        // LUT_1D_INPUT_RANGE gives its span); LUT_3D_INPUT_RANGE gives the
        // 3D span too. The plain reading divides the values by the domains
        // (and ignores LUT_3D_INPUT_RANGE); a read for baking records them
        // as spans and keeps the values as they are.
        const bool domainIs1D = haveDomain && size3D < 1 && !have1DRange;
        for (int c = 0; c < 3; ++c) {
            meaning.inputMin3D[c] = haveDomain && !domainIs1D ? domainMin3D[c] : inputRange3D[c];
            meaning.inputMax3D[c] = haveDomain && !domainIs1D ? domainMax3D[c] : inputRange3D[c + 3];
            meaning.inputMin1D[c] = domainIs1D ? domainMin3D[c] : domainMin1D[c];
            meaning.inputMax1D[c] = domainIs1D ? domainMax3D[c] : domainMax1D[c];
            if (bakeRead) {
                domainMin3D[c] = domainMin1D[c] = 0.0f;
                domainMax3D[c] = domainMax1D[c] = 1.0f;
            }
        }
        meaning.table1DFeeds3D = size3D >= 1 && size1D >= 1;

        // Keyword lines convert nothing and are skipped here like comments.
        // A file that holds both tables gives the 1D entries (a shaper)
        // first and the 3D entries after them. The working values carry
        // over from one table to the next.
        float v[3] = {0.0f, 0.0f, 0.0f};
        const EntriesRead entries1D = readEntryValues1D(in, v, [](const QByteArray &line, float *w) {
            return isSkippedDataLine(line) ? 0 : scanEntryValues(line, w);
        });
        // However the entries end, the values stored so far are normalised:
        // both domain maxima go back to 1.0 (the resampler reads the 3D one).
        if (entries1D != EntriesRead::Complete) {
            resetDomainMax3D();
            resetDomainMax1D();
            in.close();
            if (entries1D == EntriesRead::LastMissing && size3D >= 1)
                return fail(QStringLiteral("the file ends before its %1 cube entries").arg(qint64(size3D) * size3D * size3D));
            return entries1D == EntriesRead::LastMissing;
        }

        const bool mesh = meshIntegerMode;
        const int meshScale = meshIntegerScale;
        const EntriesRead entries = readEntryValues3D(in, v, [mesh, meshScale](const QByteArray &line, float *w) {
            // memchr finds no "M" on a data line long before a substring search would.
            if (isSkippedDataLine(line)
                || (std::memchr(line.constData(), 'M', size_t(line.size())) && line.contains("MESH")))
                return 0;
            if (!mesh)
                return LutScan::scan(line, "%f %f %f", &w[0], &w[1], &w[2]);
            int iv[3] = {0, 0, 0};
            const int converted = LutScan::scan(line, "%d %d %d", &iv[0], &iv[1], &iv[2]);
            for (int c = 0; c < converted; ++c)
                w[c] = float(iv[c]) / float(meshScale);
            return converted;
        });
        if (entries != EntriesRead::Complete) {
            resetDomainMax3D();
            resetDomainMax1D();
            in.close();
            return entries == EntriesRead::LastMissing;
        }
    }

    resetDomainMax3D();
    resetDomainMax1D();
    in.close();
    if (size3D >= 1 || size1D >= 1)
        return true;
    return fail(QStringLiteral("no LUT data found"));
}

bool Write_LUTFile::writeCube(QString fileName, Read_LUTFile *lut)
{
    // The cube writer always uses the orders it was given.
    return writeCubeFile(
        fileName, lut, LutFormatId::Cube,
        [lut](LutTextStream &stream) { stream << "TITLE " << '\n' << "LUT_3D_SIZE " << lut->size3D << '\n'; },
        QStringLiteral(" "), outputScale);
}
