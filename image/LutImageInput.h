#pragma once

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QString>

// Opening a LUT image or a picture. Only rasters are read, and the type is
// told from the file's first bytes (LutImageCodec::rasterFormat) among PNG,
// BMP and TIFF (and JPEG for pictures, whose lossy pixels hold no LUT); the
// reader is tied to that decoder alone. Whatever else the file may be (an
// SVG document, or anything an installed image plugin would claim from its
// content or its name) is refused before any decoder sees it.
namespace LutImageInput {

// Which rasters a caller takes.
enum Kind { LutImages, Pictures };

// A raster decoded whole by the toolkit (BMP and TIFF; PNG and JPEG have
// readers of their own, LutPng and LutJpeg), opened by the name's own bytes.
class Raster
{
public:
    // Opens path and ties the reader to the decoder of its raster type.
    // False with a reason when the file cannot be opened or is not a raster
    // of the kind asked for.
    bool open(const QString &path, Kind kind, QString *error);
    // "png", "bmp", "tiff" or "jpeg".
    QByteArray type() const { return m_type; }
    // The size and pixel format the header states (nothing decoded yet);
    // an invalid size with the reason in *error.
    QSize size(QString *error);
    QImage::Format imageFormat() { return m_reader.imageFormat(); }
    // Decodes the picture. A BMP whose file is shorter than the rows its
    // header declares is refused before anything is allocated for it. Null
    // with the reason in *error (libtiff's own words for a TIFF).
    QImage read(QString *error);

private:
    QFile m_file;
    QImageReader m_reader;
    QByteArray m_type;
};

// True for the pixel formats the toolkit decodes 16-bit files into.
bool isSixteenBit(QImage::Format format);

} // namespace LutImageInput
