#include "lut/LutFormats.h"

#include "lut/LutImageInput.h"
#include "lut/LutTextInput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QFileInfo>
#include <QImageReader>

namespace {

// A .lut file is a Discreet 1D LUT when one of its lines begins with "LUT:";
// the indexed 1D lut format has no such line. Only the start of the file is
// looked at, which is where the header stands.
bool sniffDiscreet1D(const QString &path)
{
    LutTextInput input;
    if (!input.open(path))
        return false;
    for (int i = 0; i < 4096 && !input.atEnd(); ++i) {
        if (input.readLine().trimmed().startsWith(QLatin1String("LUT:")))
            return true;
    }
    return false;
}

// A tiled LUT image is square with 64, 512 or 4096 pixels a side; other
// LUT images are unwrapped strips.
bool sniffTiledImage(const QString &path)
{
    QImageReader reader;
    QString error;
    if (!LutImageInput::open(reader, path, &error))
        return false;
    const QSize size = reader.size();
    return size.width() == size.height()
        && (size.width() == 64 || size.width() == 512 || size.width() == 4096);
}

// The catalogue. Columns: id, name, label, dimension, reader's default order
// (data, table), whether the writer forces an order and which, extensions,
// sniffer, reader, writer. A null reader or writer is not available.
const LutFormat kFormats[LutFormats::kCount] = {
    {0, "cube", ".cube", 3, true, false, false, true, true, ".cube", nullptr,
     &Read_LUTFile::readCube, &Write_LUTFile::writeCube},
    {1, "tiled-image", "texture-base 64X64 512X512...", 3, true, false, false, true, true, ".png .bmp",
     sniffTiledImage, &Read_LUTFile::readLutImageTiled, nullptr},
    {2, "strip-image", "identity Unwrapped Cube 1024X16", 3, true, false, false, true, true, ".png .bmp",
     nullptr, &Read_LUTFile::readLutImageStrip, nullptr},
    {3, "3dl", ".3dl", 3, true, true, false, true, true, ".3dl", nullptr, &Read_LUTFile::read3dl, nullptr},
    {4, "pandora", ".mga .m3d pandora", 3, true, true, true, true, true, ".mga .m3d", nullptr,
     &Read_LUTFile::readPandora, &Write_LUTFile::writePandora},
    {5, "look", ".look", 3, true, false, false, true, true, ".look", nullptr, &Read_LUTFile::readLook, nullptr},
    {6, "discreet1d", ".lut 1D Discreet", 1, true, true, true, true, true, ".lut", sniffDiscreet1D,
     &Read_LUTFile::readDiscreet1D, &Write_LUTFile::writeDiscreet1D},
    {7, "lut1d", ".lut 1D", 1, true, true, true, true, true, ".lut", nullptr, &Read_LUTFile::readLut1D,
     &Write_LUTFile::writeLut1D},
    {8, "davlut", ".davLut 3DLut", 3, true, true, true, true, true, ".davlut", nullptr,
     &Read_LUTFile::readDavLut, &Write_LUTFile::writeDavLut},
    {9, "csp", ".csp", 3, true, false, false, true, true, ".csp", nullptr, &Read_LUTFile::readCsp, nullptr},
    {10, "truelight", ".cub Truelight Cube", 3, true, false, false, true, true, ".cub", nullptr,
     &Read_LUTFile::readTruelightCube, nullptr},
    {11, "itx", ".itx", 3, true, false, true, true, false, ".itx", nullptr, &Read_LUTFile::readItx,
     &Write_LUTFile::writeItx},
    // spi1d columns are red, green, blue, as its writer puts them: the reader
    // keeps them in file order.
    {12, "spi1d", ".spi1d", 1, true, true, true, true, true, ".spi1d", nullptr, &Read_LUTFile::readSpi1D,
     &Write_LUTFile::writeSpi1D},
    {13, "spi3d", ".spi3d", 3, true, true, true, true, true, ".spi3d", nullptr, &Read_LUTFile::readSpi3D,
     &Write_LUTFile::writeSpi3D},
    {14, "csvlog", ".csv log", 1, true, true, true, true, true, ".csv", nullptr, &Read_LUTFile::readCsvLog,
     &Write_LUTFile::writeCsvLog},
    {15, "zyt1d", ".zyt1d Ostavel专用格式1D", 1, true, true, true, true, true, ".zyt1d", nullptr,
     &Read_LUTFile::readZyt1D, &Write_LUTFile::writeZyt1D},
    {16, "zyt3d", ".zyt3d Ostavel专用格式3D", 3, true, true, true, true, true, ".zyt3d", nullptr,
     &Read_LUTFile::readZyt3D, &Write_LUTFile::writeZyt3D},
};

QString extensionOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix;
}

} // namespace

QStringList LutFormat::extensionList() const
{
    return QString::fromLatin1(extensions).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

namespace LutFormats {

const LutFormat *all()
{
    return kFormats;
}

const LutFormat *byId(int id)
{
    if (unsigned(id) >= unsigned(kCount))
        return nullptr;
    return &kFormats[id];
}

const LutFormat *byName(const QString &text)
{
    const QString key = text.trimmed().toLower();
    bool isNumber = false;
    const int id = key.toInt(&isNumber);
    if (isNumber)
        return byId(id);
    for (const LutFormat &format : kFormats) {
        if (key == QLatin1String(format.name))
            return &format;
    }
    return nullptr;
}

const LutFormat *forInput(const QString &path)
{
    const QString extension = extensionOf(path);
    const LutFormat *fallback = nullptr;
    for (const LutFormat &format : kFormats) {
        if (extension.isEmpty() || !format.extensionList().contains(extension))
            continue;
        if (!format.sniff) {
            if (!fallback)
                fallback = &format;
        } else if (format.sniff(path)) {
            return &format;
        }
    }
    return fallback ? fallback : &kFormats[0];
}

const LutFormat *forOutput(const QString &path)
{
    const QString extension = extensionOf(path);
    if (extension.isEmpty())
        return nullptr;
    for (const LutFormat &format : kFormats) {
        if (format.extensionList().contains(extension))
            return &format;
    }
    return nullptr;
}

QString fileDialogFilter()
{
    return QStringLiteral(
        "lut (*.cube *.3dl *.lut *.davlut *.mga *.m3d *.look *.csp *.cub *.itx *.spi1d *.spi3d *.csv "
        "*.zyt1d *.zyt3d);;icc (*.icc *.icm);;texture (*.bmp *.png);;UTIs (*.tiff *.tif *.dat);;All (*.*)");
}

} // namespace LutFormats
