#include "lut/LutImageInput.h"

#include <QFile>
#include <QImageReader>

namespace LutImageInput {

QByteArray rasterFormat(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray head = file.read(8);
    if (head == QByteArray("\x89PNG\r\n\x1a\n", 8))
        return QByteArrayLiteral("png");
    if (head.startsWith("BM"))
        return QByteArrayLiteral("bmp");
    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)))
        return QByteArrayLiteral("tiff");
    if (head.startsWith("\xff\xd8\xff"))
        return QByteArrayLiteral("jpeg");
    return QByteArray();
}

bool open(QImageReader &reader, const QString &path, QString *error, Kind kind)
{
    const QByteArray format = rasterFormat(path);
    if (format.isEmpty() || (kind == LutImages && format == "jpeg")) {
        QFile file(path);
        *error = !file.open(QIODevice::ReadOnly) ? QStringLiteral("cannot open: %1").arg(file.errorString())
            : kind == LutImages                  ? QStringLiteral("not a PNG, BMP or TIFF image")
                                                 : QStringLiteral("not a PNG, TIFF, JPEG or BMP image");
        return false;
    }
    // With the format given and detection off, neither the content nor the
    // file name can bring in another decoder.
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    reader.setFormat(format);
    reader.setFileName(path);
    return true;
}

bool isSixteenBit(QImage::Format format)
{
    return format == QImage::Format_RGBX64 || format == QImage::Format_RGBA64
        || format == QImage::Format_RGBA64_Premultiplied || format == QImage::Format_Grayscale16;
}

} // namespace LutImageInput
