#include "lut/LutFormats.h"

#include "lut/LutImageCodec.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"

#include <QFileInfo>

namespace {

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
    const LutFormat &hald = LutFormats::row(LutFormatId::Hald);
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

const LutFormat &row(LutFormatId id)
{
    return all()[int(id)];
}

const LutFormat *byId(int id)
{
    if (unsigned(id) >= unsigned(kCount))
        return nullptr;
    return &all()[id];
}

const LutFormat *byName(const QString &text)
{
    const QString key = text.trimmed().toLower();
    bool isNumber = false;
    const int id = key.toInt(&isNumber);
    if (isNumber)
        return byId(id);
    for (int id = 0; id < kCount; ++id) {
        if (key == QLatin1String(all()[id].name))
            return &all()[id];
    }
    return nullptr;
}

const LutFormat *forInput(const QString &path)
{
    if (const LutFormat *hald = haldByName(path))
        return hald;
    const QString extension = extensionOf(path);
    const LutFormat *fallback = nullptr;
    for (int id = 0; id < kCount; ++id) {
        const LutFormat &format = all()[id];
        if (extension.isEmpty() || !format.extensionList().contains(extension))
            continue;
        if (!format.sniff) {
            if (!fallback)
                fallback = &format;
        } else if (format.sniff(path)) {
            return &format;
        }
    }
    return fallback ? fallback : &row(LutFormatId::Cube);
}

const LutFormat *forOutput(const QString &path)
{
    const QString extension = extensionOf(path);
    if (extension.isEmpty())
        return nullptr;
    if (const LutFormat *hald = haldByName(path))
        return hald;
    for (int id = 0; id < kCount; ++id) {
        if (all()[id].extensionList().contains(extension))
            return &all()[id];
    }
    return nullptr;
}

const LutFormat *forContent(const QString &path)
{
    // Images by their signature: only an image loads the image code.
    const QByteArray image = LutImageCodec::rasterFormat(path);
    if (image == "png" || image == "bmp" || image == "tiff")
        return &row(row(LutFormatId::TiledImage).sniff(path) ? LutFormatId::TiledImage : LutFormatId::StripImage);

    LutTextInput in;
    if (!in.open(path))
        return &row(LutFormatId::Cube);
    auto format = [](LutFormatId id) { return &row(id); };
    bool first = true;
    int length = -1; // the number on a "Length" line, for the two formats of this tool
    qint64 afterLength = 0;
    for (int i = 0; i < 4096 && !in.atEnd(); ++i) {
        const QByteArray line = in.readRawLine().trimmed();
        if (line.isEmpty())
            continue;
        if (first && line == "CSPLUTV100")
            return format(LutFormatId::Csp);
        first = false;
        if (length >= 0) {
            // Lines of this tool's own formats: a Length of N followed by N
            // lines is a 1D table, by N cubed a 3D one.
            if (++afterLength > length)
                return format(LutFormatId::Zyt3D);
            continue;
        }
        // XML: a process list (the transform format's root has a version,
        // the Common LUT Format's a compCLFversion), else a look file. A
        // declaration or a comment on its own line says neither.
        if (line.contains("<ProcessList"))
            return format(line.contains("compCLFversion") ? LutFormatId::Clf : LutFormatId::Ctf);
        if ((line.startsWith("<?xml") || line.startsWith("<!--")) && line.endsWith('>'))
            continue;
        if (line.startsWith('<'))
            return format(LutFormatId::Look);
        if (line.startsWith("SPILUT"))
            return format(LutFormatId::Spi3D);
        if (line.startsWith("LUT:"))
            return format(LutFormatId::Discreet1D);
        if (line.startsWith("Index"))
            return format(LutFormatId::Lut1D);
        if (line.startsWith("Version") || line.startsWith("Components") || line.startsWith('{'))
            return format(LutFormatId::Spi1D);
        if (line.startsWith("3DLUTSIZE"))
            return format(LutFormatId::DavLut);
        if (line.startsWith("LUT_3D_SIZE") || line.startsWith("LUT_1D_SIZE") || line.startsWith("TITLE")
            || line.startsWith("DOMAIN_"))
            return format(LutFormatId::Cube);
        if (line.startsWith("channel") || line.startsWith("#HEADER"))
            return format(LutFormatId::Pandora);
        if (line.startsWith("3DMESH") || line.startsWith("Mesh"))
            return format(LutFormatId::ThreeDl);
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
                return format(LutFormatId::Truelight);
            continue;
        }
        int index = 0;
        double value = 0;
        if (LutScan::scan(line, "%d,%lf", &index, &value) == 2)
            return format(LutFormatId::CsvLog);
        // A 3dl file begins with its shaper line of four or more input codes;
        // anything else is read as a (perhaps headerless) cube file.
        return format(LutScan::fieldCount(line) >= 4 ? LutFormatId::ThreeDl : LutFormatId::Cube);
    }
    return length >= 0 ? format(LutFormatId::Zyt1D) : format(LutFormatId::Cube);
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
