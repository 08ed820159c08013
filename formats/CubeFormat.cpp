// The cube format (".cube"): a 3D table, an optional 1D table and their
// domains, one entry of three numbers per line, the innermost loop index
// varying fastest; a file with both tables gives the 1D entries first.
// Keywords stand at the start of a line. The reader skips comments and
// lines of unknown words, works out the size of a headerless file from its
// number of data lines (N^3 lines of three numbers, N at least 2), and reads
// integer data after a "Mesh" line. What is no cube is refused with the
// line and the reason: a binary file, a data line that is not three
// numbers, a size below 2, a headerless file whose line count is no cube.

#include "lut/LutLog.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The keywords, recognised as the first word of a trimmed line. TITLE comes
// first: its text may hold any of the others.
enum class Keyword { None, Title, Size3D, Size1D, DomainMin, DomainMax, Range1D, Range3D, Mesh, Mesh3D };

const struct
{
    const char *word;
    Keyword keyword;
} kKeywords[] = {{"TITLE", Keyword::Title},          {"LUT_3D_SIZE", Keyword::Size3D},
                 {"LUT_1D_SIZE", Keyword::Size1D},   {"DOMAIN_MIN", Keyword::DomainMin},
                 {"DOMAIN_MAX", Keyword::DomainMax}, {"LUT_1D_INPUT_RANGE", Keyword::Range1D},
                 {"LUT_3D_INPUT_RANGE", Keyword::Range3D}};

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The keyword a trimmed line starts with, and in *arguments the text after
// it. "Mesh" introduces integer data whatever follows it (as "Mesh 4 12");
// a "3DMESH" line belongs to that header too.
Keyword keywordOf(const QByteArray &line, QByteArray *arguments)
{
    for (const auto &k : kKeywords) {
        const int length = int(std::strlen(k.word));
        if (line.startsWith(k.word) && (line.size() == length || isBlank(line.at(length)))) {
            *arguments = line.mid(length);
            return k.keyword;
        }
    }
    if (line.startsWith("Mesh")) {
        *arguments = line.mid(4);
        return Keyword::Mesh;
    }
    if (line.startsWith("3DMESH"))
        return Keyword::Mesh3D;
    return Keyword::None;
}

// A line that can only be an entry: it starts as a number does.
bool startsLikeANumber(const QByteArray &line)
{
    const char c = line.isEmpty() ? '\0' : line.at(0);
    return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.';
}

// The number on a size line: a decimal integer alone; anything else is 0
// (and so refused as a size), with the text kept for the message.
int sizeValue(const QByteArray &arguments, bool *ok)
{
    return arguments.trimmed().toInt(ok);
}

// An entry line: exactly three numbers (integers after a "Mesh" line,
// divided by its scale). 0 for a line that is no entry (empty, a comment,
// a keyword or a word), -1 for one that starts like an entry but is not
// three numbers.
int entryValues(const QByteArray &line, float *w, bool mesh, int meshScale)
{
    if (!startsLikeANumber(line))
        return 0;
    int converted;
    int fields;
    if (!mesh) {
        converted = LutScan::floatFields(line.constData(), line.size(), w, 3, &fields);
    } else {
        int iv[3] = {0, 0, 0};
        converted = LutScan::scan(line, "%d %d %d", &iv[0], &iv[1], &iv[2]);
        for (int c = 0; c < converted; ++c)
            w[c] = float(iv[c]) / float(meshScale);
        fields = LutScan::fieldCount(line);
    }
    return converted == 3 && fields == 3 ? 3 : -1;
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
    QByteArray line, arguments;
    const auto sizeLine = [&](const char *keyword, bool is3D) {
        bool ok = false;
        const int n = sizeValue(arguments, &ok);
        const QByteArray text = arguments.trimmed();
        // Digits alone that toInt refuses are a number beyond the integers:
        // say so with the line's own text rather than "not a whole number".
        if (!ok && !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return fail(QStringLiteral("line %1: %2: %3 %4 is above the limit of %5")
                            .arg(in.lineNumber())
                            .arg(QLatin1String(keyword), is3D ? QStringLiteral("cube size") : QStringLiteral("1D size"),
                                 QString::fromLatin1(text.left(40)))
                            .arg(is3D ? kMaxCubeSize : kMax1DSize));
        if (!ok)
            return fail(QStringLiteral("line %1: %2 \"%3\" is not a whole number")
                            .arg(in.lineNumber())
                            .arg(QLatin1String(keyword), QString::fromUtf8(arguments.trimmed().left(40))));
        if (n < 2)
            return fail(QStringLiteral("line %1: %2 %3: a table has at least 2 %4")
                            .arg(in.lineNumber())
                            .arg(QLatin1String(keyword))
                            .arg(n)
                            .arg(is3D ? QStringLiteral("points per axis") : QStringLiteral("entries")));
        if (!(is3D ? setSize3D(n, headerOnly) : setSize1D(n, headerOnly)))
            return fail(QStringLiteral("line %1: %2: %3").arg(in.lineNumber()).arg(QLatin1String(keyword), errorString));
        return true;
    };
    while (in.readTrimmedLine(line)) {
        if (line.isEmpty())
            continue;
        if (std::memchr(line.constData(), '\0', size_t(line.size())))
            return fail(QStringLiteral("line %1: binary data, not cube text").arg(in.lineNumber()));
        if (line.startsWith('#') || line.startsWith('x')) {
            lutReadDebug() << "skipped:" << line;
            continue;
        }
        switch (keywordOf(line, &arguments)) {
        case Keyword::Title:
            lutReadDebug() << "TITLE:" << line;
            break;
        case Keyword::Size3D:
            if (!sizeLine("LUT_3D_SIZE", true))
                return false;
            break;
        case Keyword::Size1D:
            if (!sizeLine("LUT_1D_SIZE", false))
                return false;
            break;
        case Keyword::DomainMin:
        case Keyword::DomainMax: {
            float v[3] = {0.0f, 0.0f, 0.0f};
            if (LutScan::scan(arguments, "%f %f %f", &v[0], &v[1], &v[2]) >= 1) {
                float *domain = keywordOf(line, &arguments) == Keyword::DomainMin ? domainMin3D : domainMax3D;
                for (int c = 0; c < 3; ++c)
                    domain[c] = v[c];
                haveDomain = true;
            }
            break;
        }
        case Keyword::Range1D: {
            float lo = 0.0f, hi = 0.0f;
            if (LutScan::scan(arguments, "%f %f", &lo, &hi) >= 1) {
                for (int c = 0; c < 3; ++c) {
                    domainMin1D[c] = lo;
                    domainMax1D[c] = hi;
                }
                have1DRange = true;
            }
            break;
        }
        case Keyword::Range3D: {
            // The 3D table's input span; only a read for baking applies it.
            double lo = 0.0, hi = 0.0;
            if (LutScan::scan(arguments, "%lf %lf", &lo, &hi) == 2) {
                for (int c = 0; c < 3; ++c) {
                    inputRange3D[c] = lo;
                    inputRange3D[c + 3] = hi;
                }
            }
            break;
        }
        case Keyword::Mesh: {
            // "Mesh a b": integers follow, scaled by 2^b. Without two sane
            // integers the scale stays 1.
            meshIntegerMode = true;
            int a = 0, b = 0;
            if (LutScan::scan(arguments, "%d %d", &a, &b) == 2 && b >= 0 && b <= 30)
                meshIntegerScale = int(std::pow(2.0, b));
            break;
        }
        case Keyword::Mesh3D:
            break;
        case Keyword::None:
            if (!startsLikeANumber(line)) {
                lutReadDebug() << "skipped:" << line;
                break;
            }
            // Without a size line, every data line counts towards the size,
            // so each must be an entry.
            if (size3D < 1 && size1D < 1) {
                float w[3];
                if (entryValues(line, w, meshIntegerMode, meshIntegerScale) < 0)
                    return fail(QStringLiteral("line %1: a data line of a cube file is three numbers")
                                    .arg(in.lineNumber()));
            }
            ++dataLines;
            break;
        }
        if (size3D >= 1 && dataLines > 0)
            break;
    }
    if (in.atEnd() && dataLines != 0 && size3D == 0 && size1D == 0) {
        const int n = int(std::lround(std::cbrt(double(dataLines))));
        if (n < 2 || qint64(n) * n * n != dataLines)
            return fail(QStringLiteral("%1 data lines without a size line: a cube without one holds N x N x N lines "
                                       "for N of 2 or more")
                            .arg(dataLines));
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

        // Keyword lines are no entries and are skipped here like comments.
        // A file that holds both tables gives the 1D entries (a shaper)
        // first and the 3D entries after them.
        const bool mesh = meshIntegerMode;
        const int meshScale = meshIntegerScale;
        const auto values = [mesh, meshScale](const QByteArray &line, float *w) {
            return entryValues(line, w, mesh, meshScale);
        };
        float v[3] = {0.0f, 0.0f, 0.0f};
        const EntriesRead entries1D = readEntryValues1D(in, v, values);
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
        const EntriesRead entries = readEntryValues3D(in, v, values);
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
    return fail(QStringLiteral("no LUT data found: not a cube file"));
}

bool Write_LUTFile::writeCube(QString fileName, Read_LUTFile *lut)
{
    // A LUT of a 1D table alone is a 1D cube file: LUT_1D_SIZE, the input
    // range when it is not 0..1, and one line of three values per entry.
    if (lut->size3D < 1 && lut->size1D >= 1) {
        // Under the format's own order a 1D line is red, green, blue, as the
        // reader takes it.
        if (defaultOrder)
            tableOrderRGB = dataOrderRGB;
        return writeTable1DFile(fileName, lut, LutFormatId::Cube, [&](LutTextStream &stream) {
            stream.setRealNumberNotation(QTextStream::FixedNotation);
            stream.setRealNumberPrecision(6);
            const LutMeaning &m = lut->meaning;
            // Readers of LUT_1D_INPUT_RANGE know no TITLE line.
            if (m.inputSpan1DIsUnit())
                stream << "TITLE " << '\n';
            stream << "LUT_1D_SIZE " << lut->size1D << '\n';
            if (!m.inputSpan1DIsUnit()) {
                stream << "LUT_1D_INPUT_RANGE " << m.inputMin1D[0] << ' ' << m.inputMax1D[0] << '\n';
            }
            const QString separator = QStringLiteral(" ");
            for (int i = 0; i < lut->size1D; ++i) {
                writeLut1DEntry(lut->table1D, stream, i, 1, separator);
                stream << '\n';
            }
        });
    }
    // A table that holds what its file means (a bake) keeps what stands in
    // front of its cube: the 1D table that feeds it, over its input range
    // (LUT_1D_SIZE and its entries before LUT_3D_SIZE), and the cube's own
    // input range (DOMAIN_MIN/MAX, or LUT_3D_INPUT_RANGE behind a 1D table,
    // which is where readers look for it then).
    const LutMeaning &m = lut->meaning;
    const bool front = lut->bakeRead;
    const bool table1D = front && m.table1DFeeds3D && lut->size1D >= 1 && lut->table1D.size() == lut->size1D;
    const bool span3D = front && !m.inputSpan3DIsUnit();
    const auto oneSpan = [](const double lo[3], const double hi[3]) {
        return lo[0] == lo[1] && lo[1] == lo[2] && hi[0] == hi[1] && hi[1] == hi[2];
    };
    if (table1D && (!oneSpan(m.inputMin1D, m.inputMax1D) || (span3D && !oneSpan(m.inputMin3D, m.inputMax3D))))
        return fail(QStringLiteral("the cube format holds one input range for all three channels of a table behind a 1D table"));
    // The cube writer always uses the orders it was given.
    return writeCubeFile(
        fileName, lut, LutFormatId::Cube,
        [&](LutTextStream &stream) {
            // Nine significant digits keep the range the table was baked over.
            stream.setRealNumberNotation(QTextStream::SmartNotation);
            stream.setRealNumberPrecision(9);
            // Readers of files with both tables know no TITLE line.
            if (!table1D)
                stream << "TITLE " << '\n';
            if (table1D) {
                stream << "LUT_1D_SIZE " << lut->size1D << '\n';
                if (!m.inputSpan1DIsUnit())
                    stream << "LUT_1D_INPUT_RANGE " << m.inputMin1D[0] << ' ' << m.inputMax1D[0] << '\n';
                if (span3D)
                    stream << "LUT_3D_INPUT_RANGE " << m.inputMin3D[0] << ' ' << m.inputMax3D[0] << '\n';
            } else if (span3D) {
                stream << "DOMAIN_MIN " << m.inputMin3D[0] << ' ' << m.inputMin3D[1] << ' ' << m.inputMin3D[2] << '\n'
                       << "DOMAIN_MAX " << m.inputMax3D[0] << ' ' << m.inputMax3D[1] << ' ' << m.inputMax3D[2] << '\n';
            }
            stream << "LUT_3D_SIZE " << lut->size3D << '\n';
            // The entries: six decimals.
            stream.setRealNumberNotation(QTextStream::FixedNotation);
            stream.setRealNumberPrecision(6);
            if (table1D) {
                const LineOrder1D lineOrder(this);
                const QString separator = QStringLiteral(" ");
                for (int i = 0; i < lut->size1D; ++i) {
                    writeLut1DEntry(lut->table1D, stream, i, 1, separator);
                    stream << '\n';
                }
            }
        },
        QStringLiteral(" "), outputScale);
}

// A cube file's first line past its comments is one of its keywords (a
// headerless file is not told from other tables by its content).
bool Read_LUTFile::recognisesCube(const QByteArray &head)
{
    QByteArray arguments;
    const Keyword keyword = keywordOf(LutHead::firstContentLine(head), &arguments);
    // A vlt file's comments stand before its LUT_3D_SIZE line.
    return keyword != Keyword::None && keyword != Keyword::Mesh && keyword != Keyword::Mesh3D && !recognisesVlt(head);
}
