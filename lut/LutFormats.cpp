#include "lut/LutFormats.h"

#include "lut/LutImageCodec.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QFileInfo>

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
    return LutImageCodec::cubeSizeOf(path, 1) != 0;
}

// The LUT image sizes a conversion resamples a cube to.
int tiledImageSize(int n, bool)
{
    return LutImageCodec::heldSize(1, n);
}

int haldSize(int n, bool)
{
    return LutImageCodec::heldSize(19, n);
}

// A Discreet 1D lut of codes has 256, 1024 or 4096 evenly spaced entries (8,
// 10 or 12 bits in), or 65536 entries indexed by half-float codes; a file of
// reals may have any length.
int discreet1DEntries(int n, bool codes)
{
    if (!codes)
        return n;
    for (int length : {256, 1024, 4096, 65536}) {
        if (n <= length)
            return length;
    }
    return 0;
}

// The indexed 1D lut has one line per 8-bit input level.
int lut1DEntries(int, bool)
{
    return 256;
}

// The catalogue. Columns: id, name, label, dimension, reader's default order
// (data, table), whether the writer forces an order and which, extensions,
// sniffer, reader, writer, the command line's default output scale (1 reals
// only, 0 codes by entry count) and the lengths a 1D file holds. A null
// reader or writer is not available.
const LutFormat kFormats[LutFormats::kCount] = {
    {0, "cube", ".cube", 3, true, false, false, true, true, ".cube", nullptr,
     &Read_LUTFile::readCube, &Write_LUTFile::writeCube, 1, nullptr},
    // LUT images hold 8- or 16-bit codes; they are written with 16 unless
    // told otherwise.
    {1, "tiled-image", "texture-base 64X64 512X512...", 3, true, false, true, true, false, ".png .bmp .tif .tiff",
     sniffTiledImage, &Read_LUTFile::readLutImageTiled, &Write_LUTFile::writeLutImageTiled, 65535, tiledImageSize},
    {2, "strip-image", "identity Unwrapped Cube 1024X16", 3, true, false, true, true, false, ".png .bmp .tif .tiff",
     nullptr, &Read_LUTFile::readLutImageStrip, &Write_LUTFile::writeLutImageStrip, 65535, nullptr},
    {3, "3dl", ".3dl", 3, true, true, false, true, true, ".3dl", nullptr, &Read_LUTFile::read3dl, nullptr, 1, nullptr},
    {4, "pandora", ".mga .m3d pandora", 3, true, true, true, true, true, ".mga .m3d", nullptr,
     &Read_LUTFile::readPandora, &Write_LUTFile::writePandora, 4095, nullptr},
    {5, "look", ".look", 3, true, false, false, true, true, ".look", nullptr, &Read_LUTFile::readLook, nullptr, 1, nullptr},
    {6, "discreet1d", ".lut 1D Discreet", 1, true, true, true, true, true, ".lut", sniffDiscreet1D,
     &Read_LUTFile::readDiscreet1D, &Write_LUTFile::writeDiscreet1D, 0, discreet1DEntries},
    {7, "lut1d", ".lut 1D", 1, true, true, true, true, true, ".lut", nullptr, &Read_LUTFile::readLut1D,
     &Write_LUTFile::writeLut1D, 255, lut1DEntries},
    {8, "davlut", ".davLut 3DLut", 3, true, true, true, true, true, ".davlut", nullptr,
     &Read_LUTFile::readDavLut, &Write_LUTFile::writeDavLut, 1, nullptr},
    {9, "csp", ".csp", 3, true, false, false, true, true, ".csp", nullptr, &Read_LUTFile::readCsp, nullptr, 1, nullptr},
    {10, "truelight", ".cub Truelight Cube", 3, true, false, false, true, true, ".cub", nullptr,
     &Read_LUTFile::readTruelightCube, nullptr, 1, nullptr},
    {11, "itx", ".itx", 3, true, false, true, true, false, ".itx", nullptr, &Read_LUTFile::readItx,
     &Write_LUTFile::writeItx, 1, nullptr},
    // spi1d columns are red, green, blue, as its writer puts them: the reader
    // keeps them in file order.
    {12, "spi1d", ".spi1d", 1, true, true, true, true, true, ".spi1d", nullptr, &Read_LUTFile::readSpi1D,
     &Write_LUTFile::writeSpi1D, 1, nullptr},
    {13, "spi3d", ".spi3d", 3, true, true, true, true, true, ".spi3d", nullptr, &Read_LUTFile::readSpi3D,
     &Write_LUTFile::writeSpi3D, 1, nullptr},
    {14, "csvlog", ".csv log", 1, true, true, true, true, true, ".csv", nullptr, &Read_LUTFile::readCsvLog,
     &Write_LUTFile::writeCsvLog, 0, nullptr},
    {15, "zyt1d", ".zyt1d Ostavel专用格式1D", 1, true, true, true, true, true, ".zyt1d", nullptr,
     &Read_LUTFile::readZyt1D, &Write_LUTFile::writeZyt1D, 1, nullptr},
    {16, "zyt3d", ".zyt3d Ostavel专用格式3D", 3, true, true, true, true, true, ".zyt3d", nullptr,
     &Read_LUTFile::readZyt3D, &Write_LUTFile::writeZyt3D, 1, nullptr},
    // The XML process lists hold a 3D or a 1D table, or a transform of their
    // own; the window's dialogs do not offer them.
    {17, "clf", ".clf Common LUT Format", 0, true, true, true, true, true, ".clf", nullptr, &Read_LUTFile::readClf,
     &Write_LUTFile::writeClf, 1, nullptr},
    {18, "ctf", ".ctf Color Transform Format", 0, true, true, true, true, true, ".ctf", nullptr,
     &Read_LUTFile::readCtf, &Write_LUTFile::writeCtf, 1, nullptr},
    // Chosen by name among the LUT images (haldByName). The first extension
    // names what --out-dir writes, so that it reads back as a Hald CLUT.
    {19, "hald", "Hald CLUT", 3, true, false, true, true, false, ".hald.png .png .tif .tiff .bmp", nullptr,
     &Read_LUTFile::readHald, &Write_LUTFile::writeHald, 65535, haldSize},
};

QString extensionOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix;
}

// A 512 x 512 Hald CLUT and a tiled LUT image of the same size differ only
// in layout, so the name decides: the Hald CLUT row for an image whose file
// name contains "hald" (in any case), else null.
const LutFormat *haldByName(const QString &path)
{
    const LutFormat &hald = kFormats[19];
    return QFileInfo(path).fileName().contains(QLatin1String("hald"), Qt::CaseInsensitive)
            && hald.extensionList().contains(extensionOf(path))
        ? &hald
        : nullptr;
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
    if (const LutFormat *hald = haldByName(path))
        return hald;
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
    if (const LutFormat *hald = haldByName(path))
        return hald;
    for (const LutFormat &format : kFormats) {
        if (format.extensionList().contains(extension))
            return &format;
    }
    return nullptr;
}

const LutFormat *forContent(const QString &path)
{
    // Images by their signature: only an image loads the image code.
    const QByteArray image = LutImageCodec::rasterFormat(path);
    if (image == "png" || image == "bmp" || image == "tiff")
        return &kFormats[sniffTiledImage(path) ? 1 : 2];

    LutTextInput in;
    if (!in.open(path))
        return &kFormats[0];
    auto format = [](int id) { return &kFormats[id]; };
    bool first = true;
    int length = -1; // the number on a "Length" line, for the two formats of this tool
    qint64 afterLength = 0;
    for (int i = 0; i < 4096 && !in.atEnd(); ++i) {
        const QByteArray line = in.readRawLine().trimmed();
        if (line.isEmpty())
            continue;
        if (first && line == "CSPLUTV100")
            return format(9);
        first = false;
        if (length >= 0) {
            // Lines of this tool's own formats: a Length of N followed by N
            // lines is a 1D table, by N cubed a 3D one.
            if (++afterLength > length)
                return format(16);
            continue;
        }
        // XML: a process list (the transform format's root has a version,
        // the Common LUT Format's a compCLFversion), else a look file. A
        // declaration or a comment on its own line says neither.
        if (line.contains("<ProcessList"))
            return format(line.contains("compCLFversion") ? 17 : 18);
        if ((line.startsWith("<?xml") || line.startsWith("<!--")) && line.endsWith('>'))
            continue;
        if (line.startsWith('<'))
            return format(5);
        if (line.startsWith("SPILUT"))
            return format(13);
        if (line.startsWith("LUT:"))
            return format(6);
        if (line.startsWith("Index"))
            return format(7);
        if (line.startsWith("Version") || line.startsWith("Components") || line.startsWith('{'))
            return format(12);
        if (line.startsWith("3DLUTSIZE"))
            return format(8);
        if (line.startsWith("LUT_3D_SIZE") || line.startsWith("LUT_1D_SIZE") || line.startsWith("TITLE")
            || line.startsWith("DOMAIN_"))
            return format(0);
        if (line.startsWith("channel") || line.startsWith("#HEADER"))
            return format(4);
        if (line.startsWith("3DMESH") || line.startsWith("Mesh"))
            return format(3);
        if (line.startsWith("From"))
            continue;
        if (line.startsWith("Length")) {
            length = 0;
            LutScan::scan(line.mid(6), "%d", &length);
            continue;
        }
        if (line.startsWith('#')) {
            // Truelight keeps its structure in "# keyword" lines.
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() >= 3 && fields[0] == "#"
                && (fields[1] == "iDims" || fields[1] == "oDims" || fields[1] == "lutLength"))
                return format(10);
            continue;
        }
        int index = 0;
        double value = 0;
        if (LutScan::scan(line, "%d,%lf", &index, &value) == 2)
            return format(14);
        // A 3dl file begins with its shaper line of four or more input codes;
        // anything else is read as a (perhaps headerless) cube file.
        return format(LutScan::fieldCount(line) >= 4 ? 3 : 0);
    }
    return length >= 0 ? format(15) : format(0);
}

int codeScaleFor(int entries)
{
    int power = 256;
    while (power < entries && power < (1 << 30))
        power *= 2;
    return power - 1;
}

QString fileDialogFilter()
{
    return QStringLiteral(
        "lut (*.cube *.3dl *.lut *.davlut *.mga *.m3d *.look *.csp *.cub *.itx *.spi1d *.spi3d *.csv "
        "*.zyt1d *.zyt3d);;icc (*.icc *.icm);;texture (*.bmp *.png);;UTIs (*.tiff *.tif *.dat);;All (*.*)");
}

} // namespace LutFormats
