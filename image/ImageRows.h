#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QImage;
class QIODevice;

// Images written a scan line at a time, whatever their type: every row is
// handed over as width * 4 codes (red, green, blue, alpha) of the depth the
// writer was opened with, so no writer holds more than a row or two of the
// picture. A writer that fails says why in one line: "write failed: " and
// the system's reason when the device refused the bytes, else what the
// encoder said.
class RowWriter
{
public:
    virtual ~RowWriter() = default;
    virtual bool writeRow(const quint16 *codes) = 0;
    // Ends the image; everything is in the device afterwards.
    virtual bool finish() = 0;
    virtual QString errorString() const = 0;
};

// Pictures of floating-point values written a scan line at a time: every
// row is handed over as width * 4 values (red, green, blue, alpha), kept as
// they are (beyond 0..1 too).
class FloatRowWriter
{
public:
    virtual ~FloatRowWriter() = default;
    virtual bool writeRow(const float *values) = 0;
    virtual bool finish() = 0;
    virtual QString errorString() const = 0;
};

class ExrReader;

namespace ImageRows {

// Whether type ("png", "tiff", "jpeg", "bmp") holds 16 bits per channel.
bool holdsSixteenBits(const QByteArray &type);

// A writer of type on device for a width x height picture of bits (8 or
// 16; JPEG and BMP hold 8) per channel, with alpha where the type keeps it
// (PNG, TIFF). pngLevel is the zlib level of a PNG (1 fastest, 9
// smallest), jpegQuality a JPEG's quality (1 to 100; its chroma is kept at
// full resolution). TIFF and BMP files are written to a device that can
// seek (a BMP's rows go bottom-up). Null with the reason in *error.
std::unique_ptr<RowWriter> open(const QByteArray &type, QIODevice *device, int width, int height, int bits, bool alpha,
                                int pngLevel, int jpegQuality, QString *error);

// A DPX writer (10 or 16 bits, with alpha or not) on device, keeping the
// fields of keptHeader (a DpxReader's header; empty: none), its file name
// field that of path.
std::unique_ptr<RowWriter> openDpx(QIODevice *device, int width, int height, int bits, bool alpha,
                                   const QByteArray &keptHeader, const QString &path, QString *error);

// Whether type holds floating-point values ("tiff", "exr").
bool holdsFloats(const QByteArray &type);

// A writer of floating-point values of type on device (one that can seek):
// bits gives 16 (half) or 32 for red, green, blue and alpha (a TIFF takes
// the widest of the colours for all). associatedAlpha marks a TIFF's alpha
// as premultiplied; an EXR written for an EXR picture (like) keeps its
// header (ExrWriter). Null with the reason in *error.
std::unique_ptr<FloatRowWriter> openFloat(const QByteArray &type, QIODevice *device, int width, int height,
                                          const int bits[4], bool alpha, bool associatedAlpha, const ExrReader *like,
                                          QString *error);

// Writes image whole through the writer of type: 16 bits per channel for
// the toolkit's 16-bit formats where the type holds them, else 8, with alpha
// when the image has it, a JPEG at LutImageCodec::kJpegQuality. False with the reason in
// *error.
bool writeImage(QIODevice *device, const QByteArray &type, const QImage &image, int pngLevel, QString *error);

// Row y of an image in RGBA8888, RGBX8888, RGBA64 or RGBX64 as width * 4
// red, green, blue, alpha codes; any other format is converted a row at a
// time (alpha unpremultiplied).
void rowCodes(const QImage &image, int y, quint16 *codes);

} // namespace ImageRows
