// The davLut format (identifier 8, ".davlut"): a 3D table. Free text may
// stand before the "3DLUTSIZE" line; after it come N^3 lines of three
// numbers, the innermost loop index varying fastest. Its own order keeps the
// channels of each line and puts the fastest file index last in the table
// (blue varies fastest).

#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

namespace {


} // namespace

bool Read_LUTFile::readDavLut(QString fileName, bool headerOnly)
{
    return readSizedCubeText(fileName, headerOnly, LutFormatId::DavLut, QStringLiteral("3DLUTSIZE"));
}

bool Write_LUTFile::writeDavLut(QString fileName, Read_LUTFile *lut)
{
    return writeCubeFile(
        fileName, lut, LutFormatId::DavLut, [lut](LutTextStream &stream) { stream << "# Authors: ostavel" << '\n' << '\n' << "3DLUTSIZE " << lut->size3D << '\n'; },
        QStringLiteral(" "), outputScale);
}

bool Read_LUTFile::recognisesDavLut(const QByteArray &head)
{
    return LutHead::firstContentLine(head).startsWith("3DLUTSIZE");
}
