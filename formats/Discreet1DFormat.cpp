// The Discreet 1D lut format (identifier 6, ".lut"): a "LUT:" header with the
// table count, the sample count N and, optionally, the output depth, then
// one value per line, all N samples of table 0, then table 1, and so on.
// Three tables are red, green and blue; one table is every channel's curve;
// of four, the last is the alpha curve, which a colour LUT has no use for
// and is read past. Files are written with three.
//
// The values are integer codes. Their scale is the output depth, given as
// the entry count of that depth (4096 for 12 bits, "65536f" for half-float
// values), or else the depth the entry count implies: 256 entries are 8-bit
// codes, 1024 10-bit and 4096 12-bit, spread evenly over the input; 65536
// entries are indexed by the half-float codes of the input and hold 16-bit
// codes. A header without a depth leaves it to the file's name, by the
// convention NAME_<in>to<out>.lut (8, 10, 12, 16, or 16f / 16fp for half
// floats): "_10to16" holds 16-bit codes, "_12to16fp" half-float values, as
// long as the input depth is the one the entry count implies. That is how
// other software reads these files. A file of reals within 0..1 (what this
// tool writes at scale 1) keeps its values.

#include "calc/LutCalc.h"
#include "lut/LutLog.h"
#include "lut/LutParallel.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QDebug>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// The table sizes of the depths: 8, 10, 12 and 16 bits.
constexpr int kDepths[] = {256, 1024, 4096, 65536};
// Entries indexed by half-float codes: the half of 1.0 is the last code
// whose input lies in the container's 0..1.
constexpr int kHalfEntries = 65536;
constexpr unsigned kHalfOne = 0x3C00;

bool isDepth(int n)
{
    for (int depth : kDepths) {
        if (n == depth)
            return true;
    }
    return false;
}

float halfToFloat(unsigned bits)
{
    const unsigned exponent = (bits >> 10) & 0x1f;
    const unsigned mantissa = bits & 0x3ff;
    float magnitude;
    if (exponent == 0) {
        magnitude = float(mantissa) * (1.0f / 16777216.0f); // mantissa x 2^-24, exact
    } else if (exponent == 31) {
        magnitude = mantissa ? NAN : INFINITY;
    } else {
        // The same binary value as a single-precision float: the exponent
        // rebased from 15 to 127, the ten mantissa bits on top of its 23.
        const quint32 single = ((exponent + 112) << 23) | (mantissa << 13);
        std::memcpy(&magnitude, &single, sizeof magnitude);
    }
    return (bits & 0x8000) ? -magnitude : magnitude;
}

// The input of half-float code i, within 0..1 (negative codes, infinities
// and NaNs take the nearer end).
double halfInput(unsigned i)
{
    const float x = halfToFloat(i);
    return x > 1.0f ? 1.0 : (x > 0.0f ? double(x) : 0.0);
}

// The depths a name of the convention NAME_<in>to<out> gives, as table sizes
// (half floats as kHalfEntries with half set); false when it gives none.
bool depthsFromName(const QString &fileName, int *in, int *out, bool *outHalf)
{
    static const QRegularExpression convention(QStringLiteral("(\\d+)(fp|f)?to(\\d+)(fp|f)?$"),
                                               QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = convention.match(QFileInfo(fileName).completeBaseName());
    if (!match.hasMatch())
        return false;
    const auto size = [](const QString &bits, bool half) {
        const int b = bits.toInt();
        if (half)
            return b == 16 ? kHalfEntries : 0;
        return b == 8 ? 256 : b == 10 ? 1024 : b == 12 ? 4096 : b == 16 ? 65536 : 0;
    };
    *in = size(match.captured(1), !match.captured(2).isEmpty());
    *outHalf = !match.captured(4).isEmpty();
    *out = size(match.captured(3), *outHalf);
    return *in > 0 && *out > 0;
}

} // namespace

bool Read_LUTFile::readDiscreet1D(QString fileName, bool headerOnly)
{
    Q_UNUSED(headerOnly);
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));

    applyDefaultOrder(LutFormatId::Discreet1D);

    static const QRegularExpression whiteSpace(QStringLiteral("\\s+"));
    std::vector<double> scratch; // table-major: N values of table 0, then 1, ...
    bool haveHeader = false;
    int tables = 0;
    int n = 0;
    int depth = 0;           // the output depth the header gives, as its table size; 0: none
    bool halfValues = false; // the header's depth is "65536f": values are half-float bits
    size_t values = 0;
    double largest = 0.0;
    bool integers = true;

    while (!in.atEnd()) {
        QString line = in.readLine().trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1Char('#'))) {
            lutReadDebug() << "#:" << line;
            continue;
        }
        if (line.startsWith(QLatin1String("LUT:"))) {
            // Only one table per file: a second header would start over
            // with values already taken, so it is refused.
            if (haveHeader)
                return fail(QStringLiteral("line %1: a second LUT: header").arg(in.lineNumber()));
            line.remove(QStringLiteral("LUT:"));
            const int converted = LutScan::scan(line, "%d %d", &tables, &n);
            if (converted < 1)
                return fail(QStringLiteral("line %1: LUT: header without a table count").arg(in.lineNumber()));
            if (tables != 1 && tables != 3 && tables != 4)
                return fail(QStringLiteral("line %1: %2 tables; a Discreet 1D lut holds 1, 3 or 4")
                                .arg(in.lineNumber())
                                .arg(tables));
            if (converted < 2)
                n = 0;
            const QStringList fields = line.split(whiteSpace, Qt::SkipEmptyParts);
            if (fields.size() >= 3) {
                QString token = fields.at(2);
                halfValues = token.endsWith(QLatin1Char('f'), Qt::CaseInsensitive);
                if (halfValues)
                    token.chop(1);
                bool ok = false;
                depth = token.toInt(&ok);
                if (!ok || !isDepth(depth))
                    return fail(QStringLiteral("line %1: output depth \"%2\" is none of 256, 1024, 4096 and 65536")
                                    .arg(in.lineNumber())
                                    .arg(fields.at(2)));
                halfValues = halfValues && depth == kHalfEntries;
            }
            if (!setSize1D(n, false))
                return fail(QStringLiteral("line %1: %2").arg(in.lineNumber()).arg(errorString));
            scratch.assign(size_t(n) * size_t(tables), 0.0);
            haveHeader = true;
            continue;
        }

        // A value line; blanks inside it are dropped before the number is read.
        line.truncate(int(std::remove_if(line.begin(), line.end(), [](QChar c) { return c.isSpace(); }) - line.begin()));
        double v = 0.0;
        if (LutScan::scan(line, "%lf", &v) < 1)
            continue;
        if (!haveHeader)
            return fail(QStringLiteral("line %1: a value before the LUT: header").arg(in.lineNumber()));
        if (values >= scratch.size())
            return fail(QStringLiteral("line %1: more than the %2 values the header announces")
                            .arg(in.lineNumber())
                            .arg(qint64(scratch.size())));
        if (!std::isfinite(v))
            return fail(QStringLiteral("line %1: \"%2\" is not a finite number").arg(in.lineNumber()).arg(line));
        if (halfValues && !(v >= 0.0 && v <= 65535.0 && v == std::floor(v)))
            return fail(QStringLiteral("line %1: %2 is not a half-float code (0 to 65535)").arg(in.lineNumber()).arg(line));
        largest = std::max(largest, v);
        integers = integers && v == std::floor(v);
        scratch[values++] = v;
    }
    in.close();

    if (!haveHeader)
        return fail(QStringLiteral("no LUT: header"));
    // No depth in the header: the file's name may give it.
    int nameIn = 0, nameOut = 0;
    bool nameHalf = false;
    if (depth == 0 && depthsFromName(fileName, &nameIn, &nameOut, &nameHalf) && nameIn == n) {
        depth = nameOut;
        halfValues = nameHalf;
        for (size_t i = 0; halfValues && i < values; ++i) {
            const double v = scratch[i];
            if (!(v >= 0.0 && v <= 65535.0 && v == std::floor(v)))
                return fail(QStringLiteral("value %1 (%2) is not a half-float code (0 to 65535), as the name's \"16fp\" "
                                           "output depth asks")
                                .arg(qint64(i) + 1)
                                .arg(v));
        }
    }
    if (values < scratch.size())
        return fail(QStringLiteral("the file ends after %1 of %2 values").arg(qint64(values)).arg(qint64(scratch.size())));

    // The scale the values are codes of. Reals are told from codes by their
    // fractions or, all whole, by reaching no higher than 1.
    double scale = 1.0;
    if (halfValues) {
        for (double &v : scratch)
            v = double(halfToFloat(unsigned(v)));
    } else if (depth > 0) {
        scale = depth - 1;
    } else if (integers && largest > 1.0) {
        if (!isDepth(n))
            return fail(QStringLiteral("%1 entries of integer codes imply no bit depth: a Discreet 1D lut of codes has "
                                       "256, 1024, 4096 or 65536 entries, or gives its output depth in the header")
                            .arg(n));
        scale = n - 1;
    }
    for (int c = 0; c < 3; ++c)
        domainMax1D[c] = float(scale);

    // One table serves all three channels; a fourth (alpha) is not used.
    auto value = [&](int i, int c) { return float(scratch[size_t(std::min(c, tables - 1)) * size_t(n) + size_t(i)]); };
    if (n != kHalfEntries) {
        for (int i = 0; i < n; ++i)
            storeEntry1D(i, value(i, 0), value(i, 1), value(i, 2), domainMin1D, domainMax1D);
    } else {
        // Entry i stands at the input of half-float code i; the container's
        // entries are evenly spaced, so each takes the line between the two
        // codes around its input.
        unsigned code = 0;
        for (int i = 0; i < n; ++i) {
            const double t = double(i) / double(n - 1);
            while (code < kHalfOne && halfInput(code + 1) <= t)
                ++code;
            float v[3];
            for (int c = 0; c < 3; ++c) {
                v[c] = value(int(code), c);
                if (code < kHalfOne) {
                    const double lo = halfInput(code), hi = halfInput(code + 1);
                    v[c] += float((value(int(code) + 1, c) - v[c]) * (t - lo) / (hi - lo));
                }
            }
            storeEntry1D(i, v[0], v[1], v[2], domainMin1D, domainMax1D);
        }
    }
    resetDomainMax1D();
    return true;
}

bool Write_LUTFile::writeDiscreet1D(QString fileName, Read_LUTFile *lut)
{
    const int n = lut->size1D;
    const bool codes = outputScale >= 2;
    if (codes && !isDepth(outputScale + 1))
        return fail(QStringLiteral("a Discreet 1D lut holds codes of 8, 10, 12 or 16 bits (scale 255, 1023, 4095 "
                                   "or 65535), not of scale %1")
                        .arg(outputScale));
    if (codes && !isDepth(n))
        return fail(QStringLiteral("a Discreet 1D lut of codes holds 256, 1024, 4096 or 65536 entries, not %1").arg(n));

    // 65536 entries are indexed by half-float codes: entry i holds the table
    // at the input of code i.
    LutTable1D halfIndexed;
    if (n == kHalfEntries) {
        if (!halfIndexed.allocate(n))
            return fail(QStringLiteral("out of memory for %1 entries").arg(n));
        LutParallel::forRanges(n, 1 << 14, [&](qint64 first, qint64 end) {
            for (int i = int(first); i < int(end); ++i) {
                for (int c = 0; c < 3; ++c)
                    halfIndexed[i][c] = float(LutCalc::sample1D(lut->table1D.data(), n, c, halfInput(unsigned(i))));
            }
        });
    }
    const LutTable1D &table = n == kHalfEntries ? halfIndexed : lut->table1D;

    return writeTable1DFile(fileName, lut, LutFormatId::Discreet1D, [&](LutTextStream &stream) {
        stream << "# Discreet LUT file" << '\n'
               << "#      Channels: 3" << '\n'
               << "# Input Samples: " << n << '\n'
               << "#   Ouput Scale: " << outputScale << '\n'
               << "#\n#Exported from ostavel\n#\n" << '\n'
               << "LUT: 3 " << n;
        // The output depth is given when it is not the one the count implies.
        if (codes && outputScale != n - 1)
            stream << ' ' << outputScale + 1;
        stream << '\n';
        // Channel-major: every sample of the first channel, then the second, then the third.
        const QString indent = QStringLiteral("     ");
        for (int k = 0; k < 3; ++k) {
            for (int i = 0; i < n; ++i) {
                stream << indent;
                writeLut1DValue(table, stream, i, outputScale, QString(), reversed1D() ? 2 - k : k);
                stream << '\n';
            }
        }
    });
}

// The header line "LUT: tables length" stands before the table.
bool Read_LUTFile::recognisesDiscreet1D(const QByteArray &head)
{
    return LutHead::firstContentLine(head).startsWith("LUT:");
}
