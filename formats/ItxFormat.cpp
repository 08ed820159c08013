// The itx format (identifier 11, ".itx"): a 3D table. Free text may
// stand before the "LUT_3D_SIZE" line; after it come N^3 lines of three
// numbers, the innermost loop index varying fastest. Its own order keeps the
// channels of each line and puts the fastest file index first in the table
// (red varies fastest, as in the cube format).

#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

namespace {


} // namespace

bool Read_LUTFile::readItx(QString fileName, bool headerOnly)
{
    return readSizedCubeText(fileName, headerOnly, LutFormatId::Itx, QStringLiteral("LUT_3D_SIZE"));
}

bool Write_LUTFile::writeItx(QString fileName, Read_LUTFile *lut)
{
    return writeCubeFile(
        fileName, lut, LutFormatId::Itx, [lut](LutTextStream &stream) { stream << "LUT_3D_SIZE " << lut->size3D << '\n'; },
        QStringLiteral(" "), outputScale);
}
