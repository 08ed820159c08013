#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

// Raster images (PNG and BMP) for the image formats, as 8-bit RGB pixels.
//
// Decoding and encoding need the toolkit's GUI library, which takes a
// process some milliseconds to load. That work lives in a module of its own
// (libchromaduct_images, lut/LutImageModule.cpp), loaded the first time an
// image is read or written, so that a conversion of text files never loads
// the GUI library. Every use of QImage belongs in that module, behind a
// function of this interface; image formats build on these functions.
//
// A LUT image is a PNG or BMP raster: the format is told from the file's
// first bytes among these two only, and the module's decoder is tied to that
// format alone, so nothing else (an SVG document, anything an installed image
// plugin would claim) ever reaches a decoder.
namespace LutImageCodec {

// 8-bit RGB pixels: row y starts at bits + y * bytesPerLine (3 x width or
// more: rows may be padded). owner keeps the pixels alive.
struct Raster
{
    int width = 0;
    int height = 0;
    qint64 bytesPerLine = 0;
    const unsigned char *bits = nullptr;
    std::shared_ptr<const void> owner;
};

// Whether an image of this size is one the caller can use.
using SizeCheck = bool (*)(int width, int height);

// "png" or "bmp" when the file starts with that format's signature, else
// empty (also when the file cannot be opened). Needs no module.
QByteArray rasterFormat(const QString &path);

// The size the PNG or BMP image at path states in its header. False with a
// reason when the file cannot be opened, is no PNG or BMP image, or the
// header cannot be read.
bool readSize(const QString &path, int *width, int *height, QString *error);

// Decodes the PNG or BMP image at path into raster (any alpha dropped).
// The size its header states is checked with acceptable before any pixel
// is decoded, so a huge image of the wrong size costs nothing. False with a
// reason otherwise.
bool read(const QString &path, SizeCheck acceptable, Raster *raster, QString *error);

// Writes raster to path as a PNG or BMP file ("png", "bmp"). False with a
// reason when it cannot.
bool write(const QString &path, const Raster &raster, const char *format, QString *error);

// What the module gives: the functions above that need the GUI library,
// with the raster format already told (by rasterFormat) for reading.
struct ModuleApi
{
    int version;
    bool (*readSize)(const QString &path, const QByteArray &format, int *width, int *height, QString *error);
    bool (*read)(const QString &path, const QByteArray &format, SizeCheck acceptable, Raster *raster, QString *error);
    bool (*write)(const QString &path, const Raster &raster, const char *format, QString *error);
};
// The module's version of ModuleApi; a module of another is not used.
constexpr int kModuleVersion = 1;

} // namespace LutImageCodec

// The module's one exported function, chromaduct_image_module (C linkage).
using LutImageModuleEntry = const LutImageCodec::ModuleApi *(*)();
