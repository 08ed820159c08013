// The itx format (identifier 11, ".itx"): a 3D table. Free text may
// stand before the "LUT_3D_SIZE" line; after it come N^3 lines of three
// numbers, the innermost loop index varying fastest. Its own order keeps the
// channels of each line and puts the fastest file index first in the table
// (red varies fastest, as in the cube format).

#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

namespace {

constexpr int kItxFormat = 11;

} // namespace

bool Read_LUTFile::readItx(QString fileName, bool headerOnly)
{
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));
    applyDefaultOrder(kItxFormat);

    // Everything before the size line is ignored, data-like lines included.
    if (!readSizeLine(in, QStringLiteral("LUT_3D_SIZE"), headerOnly))
        return false;
    if (!headerOnly) {
        // The data follow the size line; only the very last entry may be missing.
        float v[3] = {0.0f, 0.0f, 0.0f};
        const EntriesRead entries = readEntries3D(in, v, [](const QByteArray &line, float *w) {
            return !line.isEmpty() && !line.startsWith('#')
                && LutScan::scan(line, "%f %f %f", &w[0], &w[1], &w[2]) > 0;
        });
        if (entries == EntriesRead::Truncated)
            return false;
    }
    resetDomainMax3D();
    return true;
}

bool Write_LUTFile::writeItx(QString fileName, Read_LUTFile *lut)
{
    return writeCubeFile(
        fileName, lut, kItxFormat,
        [lut](QTextStream &stream) { stream << "LUT_3D_SIZE " << lut->size3D << '\n'; },
        QStringLiteral(" "), outputScale);
}
