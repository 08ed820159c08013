// The indexed 1D lut format (identifier 7, ".lut"): a tab-separated table,
// one line per input level holding the index and the red, green and blue
// output. The reader always takes 256 entries on a 0..255 scale, in line
// order (the index column is not used); the writer writes a table of any
// length as normalised reals.

#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

namespace {

constexpr int kLut1DFormat = 7;
constexpr int kLut1DEntries = 256;

} // namespace

bool Read_LUTFile::readLut1D(QString fileName, bool headerOnly)
{
    Q_UNUSED(headerOnly);
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));

    applyDefaultOrder(kLut1DFormat);
    for (int c = 0; c < 3; ++c)
        domainMax1D[c] = 255.0f;
    if (!setSize1D(kLut1DEntries, false)) {
        resetDomainMax1D();
        return false;
    }

    // Fields a short line does not give keep the previous line's values.
    double index = 0.0, red = 0.0, green = 0.0, blue = 0.0;
    int i = 0;
    while (i < kLut1DEntries) {
        if (in.atEnd()) {
            resetDomainMax1D();
            return fail(QStringLiteral("the file ends after %1 of %2 entries").arg(i).arg(kLut1DEntries));
        }
        const QByteArray line = in.readRawLine().trimmed();
        if (line.isEmpty() || line.startsWith('#') || line.startsWith("Index"))
            continue;
        if (LutScan::scan(line, "%lf %lf %lf %lf", &index, &red, &green, &blue) < 1)
            continue;
        storeEntry1D(i, float(red), float(green), float(blue), domainMin1D, domainMax1D);
        ++i;
    }
    in.close();
    resetDomainMax1D();
    return true;
}

bool Write_LUTFile::writeLut1D(QString fileName, Read_LUTFile *lut)
{
    return writeTable1DFile(fileName, lut, kLut1DFormat, [&](QTextStream &stream) {
        stream << "Index\tRed\tGreen\tBlue" << '\n';
        const QString tab = QStringLiteral("\t");
        for (int i = 0; i < lut->size1D; ++i) {
            stream << i << tab;
            writeLut1DEntry(lut->table1D, stream, i, outputScale, tab);
            stream << '\n';
        }
    });
}
