#include "image/LutImageInput.h"

#include "lut/LutImageCodec.h"

#include <QFile>
#include <QImageReader>

namespace LutImageInput {

bool open(QImageReader &reader, const QString &path, QString *error, Kind kind)
{
    const QByteArray format = LutImageCodec::rasterFormat(path);
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
