#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

class QImageReader;

// Opening a LUT image or a picture. Only rasters are read, and the type is
// told from the file's first bytes (LutImageCodec::rasterFormat) among PNG,
// BMP and TIFF (and JPEG for pictures, whose lossy pixels hold no LUT); the
// reader is tied to that decoder alone. Whatever else the file may be (an
// SVG document, or anything an installed image plugin would claim from its
// content or its name) is refused before any decoder sees it.
namespace LutImageInput {

// Which rasters a caller takes.
enum Kind { LutImages, Pictures };


// Points reader at path with the decoder of its raster type and no other.
// Returns false with a reason when the file cannot be opened or is not a
// raster of the kind asked for.
bool open(QImageReader &reader, const QString &path, QString *error, Kind kind = LutImages);

// True for the pixel formats the toolkit decodes 16-bit files into.
bool isSixteenBit(QImage::Format format);

} // namespace LutImageInput
