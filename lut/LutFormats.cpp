#include "lut/LutFormats.h"

#include "lut/LutImageCodec.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"

#include <QFile>
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
    bool known = false;
    for (int id = 0; id < kCount; ++id) {
        const LutFormat &format = all()[id];
        if (extension.isEmpty() || !format.extensionList().contains(extension))
            continue;
        known = true;
        if (!format.sniff) {
            if (!fallback)
                fallback = &format;
        } else if (format.sniff(path)) {
            return &format;
        }
    }
    if (!known)
        return forContent(path);
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

    QFile file(path);
    const QByteArray head = file.open(QIODevice::ReadOnly) ? file.read(kRecogniseBytes) : QByteArray();
    for (int id = 0; id < kCount; ++id) {
        if (all()[id].recognise && all()[id].recognise(head))
            return &all()[id];
    }
    return &row(LutFormatId::Cube);
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

namespace LutHead {

QList<QByteArray> lines(const QByteArray &head)
{
    QList<QByteArray> result;
    const QList<QByteArray> raw = head.split('\n');
    // A head that fills the window may end inside a line.
    const int whole = head.size() >= LutFormats::kRecogniseBytes ? raw.size() - 1 : raw.size();
    for (int i = 0; i < whole; ++i) {
        QByteArray line = raw[i].trimmed();
        if (i == 0 && line.startsWith("\xef\xbb\xbf"))
            line = line.mid(3).trimmed();
        if (!line.isEmpty())
            result << line;
    }
    return result;
}

QByteArray firstContentLine(const QByteArray &head)
{
    for (const QByteArray &line : lines(head)) {
        if (line.startsWith('#'))
            continue;
        if ((line.startsWith("<?xml") || line.startsWith("<!--")) && line.endsWith('>'))
            continue;
        return line;
    }
    return QByteArray();
}

bool startsWithWord(const QByteArray &line, const char *word)
{
    const int length = int(qstrlen(word));
    return line.startsWith(word) && (line.size() == length || line.at(length) == ' ' || line.at(length) == '\t');
}

} // namespace LutHead
