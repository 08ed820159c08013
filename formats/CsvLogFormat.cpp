// The csv log format (identifier 14, ".csv"): a single-channel curve, one
// "index,<tab>code value" pair per line, no header. The reader takes the
// bit depth from the last code value (1023 for a 10-bit log), places each
// value at the entry its index names and gives all three channels the same
// value; the writer writes channel 0 as normalised reals. Code values are
// read as reals, so the files the writer makes (0.5, not 512) read back as
// written; integer codes read exactly as before.

#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

namespace {

constexpr int kCsvLogFormat = 14;

// Index and code value of a line; false when either does not convert.
bool parsePair(const QByteArray &line, int *index, double *code)
{
    return !line.isEmpty() && LutScan::scan(line, "%d,\t%lf ", index, code) == 2;
}

// Full scale of the last code value v: 1 for 2 or less, else one below the
// smallest power of two that is at least v (and at least 4). False for a
// value that no such power reaches without overflow: above 2^62, infinite
// or not a number.
bool scaleFor(double v, double *scale)
{
    if (v <= 2) {
        *scale = 1.0;
        return true;
    }
    constexpr double kLargestCode = 4611686018427387904.0; // 2^62
    if (!(v <= kLargestCode))
        return false;
    long long p = 4;
    while (p < v)
        p *= 2;
    *scale = double(p - 1);
    return true;
}

} // namespace

bool Read_LUTFile::readCsvLog(QString fileName, bool headerOnly)
{
    Q_UNUSED(headerOnly);
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));

    applyDefaultOrder(kCsvLogFormat);

    // First pass: the number of pairs and the last code value.
    qint64 count = 0;
    double lastCode = 0;
    qint64 lastLine = 0;
    while (!in.atEnd()) {
        int index = 0;
        double code = 0;
        if (parsePair(in.readRawLine().trimmed(), &index, &code)) {
            ++count;
            lastCode = code;
            lastLine = in.lineNumber();
        }
    }
    if (count == 0)
        return fail(QStringLiteral("no index, code value lines"));
    if (count > kMax1DSize)
        return fail(QStringLiteral("%1 lines; at most %2 are read").arg(count).arg(kMax1DSize));
    double fullScale = 1.0;
    if (!scaleFor(lastCode, &fullScale))
        return fail(QStringLiteral("line %1: the code value %2 cannot give a scale").arg(lastLine).arg(lastCode));
    if (!setSize1D(int(count), false))
        return false;

    const float scale = float(fullScale);
    for (int c = 0; c < 3; ++c)
        domainMax1D[c] = scale;

    // Second pass: each value goes to the entry its index names; indices
    // outside the table have no place and are skipped.
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
    // One line per entry: its index, ",\t" and the first channel.
    return writeTable1DFile(fileName, lut, kCsvLogFormat, [&](QTextStream &stream) {
        const QString separator = QStringLiteral(",\t");
        for (int i = 0; i < lut->size1D; ++i) {
            stream << i << separator;
            writeLut1DValue(lut->table1D, stream, i, outputScale, QString());
            stream << '\n';
        }
    });
}
