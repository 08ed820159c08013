// The davLut format (identifier 8, ".davlut"): a 3D table. Free text may
// stand before the "3DLUTSIZE" line; after it come N^3 lines of three
// numbers, the innermost loop index varying fastest. Its own order keeps the
// channels of each line and puts the fastest file index last in the table
// (blue varies fastest).

#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

namespace {

constexpr int kDavLutFormat = 8;

} // namespace

bool Read_LUTFile::readDavLut(QString fileName, bool headerOnly)
{
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));
    applyDefaultOrder(kDavLutFormat);

    // Everything before the size line is ignored, data-like lines included.
    if (!readSizeLine(in, QStringLiteral("3DLUTSIZE"), headerOnly))
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

bool Write_LUTFile::writeDavLut(QString fileName, Read_LUTFile *lut)
{
    return writeCubeFile(
        fileName, lut, kDavLutFormat,
        [lut](QTextStream &stream) { stream << "# Authors: ostavel" << '\n' << '\n' << "3DLUTSIZE " << lut->size3D << '\n'; },
        QStringLiteral(" "), outputScale);
}
