#pragma once

#include <QByteArray>
#include <QString>

class QImageReader;

// Opening a LUT image. A LUT image is a raster of 8-bit RGB pixels, PNG or
// BMP: the format is told from the file's first bytes among these two only,
// and the reader is tied to that decoder alone. Whatever else the file may
// be (an SVG document, or anything an installed image plugin would claim
// from its content or its name) is refused before any decoder sees it.
namespace LutImageInput {

// "png" or "bmp" when the file starts with that format's signature, else
// empty (also when the file cannot be opened).
QByteArray rasterFormat(const QString &path);

// Points reader at path with the decoder of its raster format and no
// other. Returns false with a reason when the file cannot be opened or is
// not a PNG or BMP image.
bool open(QImageReader &reader, const QString &path, QString *error);

} // namespace LutImageInput
