// The csv log format (identifier 14, ".csv"): a single-channel curve, one
// "index,<tab>code value" pair per line, no header. The reader takes the bit
// depth from the largest code value (1023 for a 10-bit log), places each
// value at the entry its index names and gives all three channels the same
// value; the table has as many entries as the highest index asks for. The
// writer writes channel 0 as codes or as normalised reals; code values are
// read as reals, so both read back as written.

#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <cmath>

namespace {


// The largest code value with a power of two at or above it that a signed
// 64-bit integer holds (2^62; the next power, 2^63, overflows it).
constexpr double kLargestCode = 4611686018427387904.0;

// Index and code value of a line; false when either does not convert.
bool parsePair(const QByteArray &line, int *index, double *code)
{
    return !line.isEmpty() && LutScan::scan(line, "%d,\t%lf ", index, code) == 2;
}

// Full scale of the largest code value v: 1 for 2 or less (reals), else one
// below the smallest power of two that is at least v (and at least 4).
// v must be at most kLargestCode.
double scaleFor(double v)
{
    if (v <= 2)
        return 1.0;
    long long p = 4;
    while (double(p) < v)
        p *= 2;
    return double(p - 1);
}

} // namespace

bool Read_LUTFile::readCsvLog(QString fileName, bool headerOnly)
{
    Q_UNUSED(headerOnly);
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));

    applyDefaultOrder(LutFormatId::CsvLog);

    // First pass: the highest index and the largest code value. Lines whose
    // index is negative have no entry and are skipped in both passes.
    int highest = -1;
    double largest = 0;
    while (!in.atEnd()) {
        int index = 0;
        double code = 0;
        if (!parsePair(in.readRawLine().trimmed(), &index, &code) || index < 0)
            continue;
        if (!(std::fabs(code) <= kLargestCode))
            return fail(QStringLiteral("line %1: the code value is not a number of at most 2^62").arg(in.lineNumber()));
        if (index >= kMax1DSize)
            return fail(QStringLiteral("line %1: index %2; at most %3 entries are read")
                            .arg(in.lineNumber())
                            .arg(index)
                            .arg(kMax1DSize));
        highest = std::max(highest, index);
        largest = std::max(largest, code);
    }
    if (highest < 0)
        return fail(QStringLiteral("no index, code value lines"));
    if (!setSize1D(highest + 1, false))
        return false;

    const float scale = float(scaleFor(largest));
    for (int c = 0; c < 3; ++c)
        domainMax1D[c] = scale;

    // Second pass: each value goes to the entry its index names.
    if (!in.rewind()) {
        resetDomainMax1D();
        return fail(QStringLiteral("cannot read the file again: %1").arg(in.errorString()));
    }
    while (!in.atEnd()) {
        int index = 0;
        double code = 0;
        if (!parsePair(in.readRawLine().trimmed(), &index, &code) || index < 0 || index >= size1D)
            continue;
        storeEntry1D(index, float(code), float(code), float(code), domainMin1D, domainMax1D);
    }
    in.close();
    resetDomainMax1D();
    return true;
}

bool Write_LUTFile::writeCsvLog(QString fileName, Read_LUTFile *lut)
{
    const int n = lut->size1D;
    if (n > 0 && lut->table1D.size() != n)
        return fail(QStringLiteral("the LUT holds no 1D table to write"));
    // The file holds one channel: a table whose channels differ has no place in it.
    for (int i = 0; i < n; ++i) {
        const float *e = lut->table1D[i];
        if (std::fabs(e[1] - e[0]) > 1e-6f || std::fabs(e[2] - e[0]) > 1e-6f)
            return fail(QStringLiteral("a csv log holds one channel, and this table's channels differ (entry %1)").arg(i));
    }
    // The reader takes the scale from the largest code; it must find the one written.
    if (outputScale >= 2) {
        double largest = 0;
        for (int i = 0; i < n; ++i)
            largest = std::max(largest, std::floor(double(outputScale) * double(lut->table1D[i][0]) + 0.5));
        largest = std::min(largest, double(outputScale));
        if (scaleFor(double(outputScale)) != double(outputScale) || scaleFor(largest) != double(outputScale))
            return fail(QStringLiteral("codes of scale %1 whose largest is %2 would read back on the scale %3 (one "
                                       "below the power of two above the largest code); write reals (scale 1) instead")
                            .arg(outputScale)
                            .arg(largest)
                            .arg(scaleFor(largest)));
    }
    // One line per entry: its index, ",\t" and the first channel.
    return writeTable1DFile(fileName, lut, LutFormatId::CsvLog, [&](LutTextStream &stream) {
        const QString separator = QStringLiteral(",\t");
        for (int i = 0; i < n; ++i) {
            stream << i << separator;
            writeLut1DValue(lut->table1D, stream, i, outputScale, QString());
            stream << '\n';
        }
    });
}

// The first line is "index,value".
bool Read_LUTFile::recognisesCsvLog(const QByteArray &head)
{
    int index = 0;
    double value = 0;
    return LutScan::scan(LutHead::firstContentLine(head), "%d,%lf", &index, &value) == 2;
}
