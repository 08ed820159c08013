// libchromaduct_images: the part of the image formats that needs the
// toolkit's GUI library, loaded by LutImageCodec the first time an image is
// read or written. It holds no LUT logic and uses nothing of the program
// that loads it but the toolkit, through the functions of ModuleApi.

#include "lut/LutImageCodec.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include <utility>

namespace {

// Points reader at path with the decoder of format and no other: with the
// format given and detection off, neither the content nor the file name
// can bring in another decoder.
void openReader(QImageReader &reader, const QString &path, const QByteArray &format)
{
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    reader.setFormat(format);
    reader.setFileName(path);
}

bool readSize(const QString &path, const QByteArray &format, int *width, int *height, QString *error)
{
    QImageReader reader;
    openReader(reader, path, format);
    const QSize size = reader.size();
    if (!size.isValid()) {
        *error = QStringLiteral("cannot read the image header: %1").arg(reader.errorString());
        return false;
    }
    *width = size.width();
    *height = size.height();
    return true;
}

bool read(const QString &path, const QByteArray &format, LutImageCodec::SizeCheck acceptable,
          LutImageCodec::Raster *raster, QString *error)
{
    const auto wrongSize = [error](const QSize &size) {
        *error = QStringLiteral("%1 x %2 is not a size this LUT image can have").arg(size.width()).arg(size.height());
        return false;
    };
    QImageReader reader;
    openReader(reader, path, format);
    const QSize announced = reader.size();
    if (!announced.isValid()) {
        *error = QStringLiteral("cannot read the image header: %1").arg(reader.errorString());
        return false;
    }
    if (!acceptable(announced.width(), announced.height()))
        return wrongSize(announced);
    QImage image = reader.read();
    if (image.isNull()) {
        *error = QStringLiteral("cannot load the image: %1").arg(reader.errorString());
        return false;
    }
    if (!acceptable(image.width(), image.height()))
        return wrongSize(image.size());
    // The conversion drops any alpha channel and reuses the decoded buffer
    // where it can; the raster then shares the image's pixels.
    image = std::move(image).convertToFormat(QImage::Format_RGB888);
    if (image.isNull()) {
        *error = QStringLiteral("out of memory converting the image");
        return false;
    }
    auto held = std::make_shared<const QImage>(std::move(image));
    raster->width = held->width();
    raster->height = held->height();
    raster->bytesPerLine = held->bytesPerLine();
    raster->bits = held->constBits();
    raster->owner = std::move(held);
    return true;
}

bool write(const QString &path, const LutImageCodec::Raster &raster, const char *format, QString *error)
{
    const QImage image(raster.bits, raster.width, raster.height, int(raster.bytesPerLine), QImage::Format_RGB888);
    QImageWriter writer(path, format);
    if (image.isNull() || !writer.write(image)) {
        *error = QStringLiteral("cannot write the image: %1").arg(writer.errorString());
        return false;
    }
    return true;
}

const LutImageCodec::ModuleApi api = {LutImageCodec::kModuleVersion, readSize, read, write};

} // namespace

extern "C" Q_DECL_EXPORT const LutImageCodec::ModuleApi *chromaduct_image_module()
{
    return &api;
}
