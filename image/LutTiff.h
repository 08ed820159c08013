#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

class QIODevice;

// TIFF through libtiff: the library's messages, files written a scan line
// at a time and pictures read a strip or a row of tiles at a time. The
// integer TIFF files the strip reader leaves alone (palettes, YCbCr, CMYK,
// premultiplied alpha, other orientations...) are decoded by the toolkit's
// plugin, which calls the same libtiff: once quiet() has run, nothing
// libtiff says reaches stderr, and its last error on the thread is the
// reason a decode failed.
namespace LutTiff {

// Keeps libtiff's errors (see lastError) and drops its warnings, for the
// whole process. Safe to call any number of times.
void quiet();
// The last error libtiff reported on this thread, "" when none since
// clearError().
QString lastError();
void clearError();

} // namespace LutTiff

// An RGB (or with alpha RGBA, unassociated unless asked) TIFF of 8 or 16
// bits per channel, or of 16- or 32-bit floating-point samples,
// uncompressed, written row by row on a device that can seek (the directory
// is written last and the header points at it). BigTIFF when the pixels
// would pass 4 GB.
class TiffWriter
{
public:
    TiffWriter();
    ~TiffWriter();
    TiffWriter(const TiffWriter &) = delete;
    TiffWriter &operator=(const TiffWriter &) = delete;

    bool open(QIODevice *device, int width, int height, int bits, bool alpha);
    // A TIFF of floating-point samples: bits 16 (half) or 32, the values
    // as they come (beyond 0..1 too). associatedAlpha marks the alpha as
    // premultiplied, as the input picture's was.
    bool openFloat(QIODevice *device, int width, int height, int bits, bool alpha, bool associatedAlpha);
    // The next row from width * 4 codes (red, green, blue, alpha; alpha
    // ignored without it).
    bool writeRow(const quint16 *codes);
    // The next row of a floating-point TIFF from width * 4 values.
    bool writeRow(const float *values);
    // Writes the directory; everything is in the device afterwards.
    bool finish();
    QString errorString() const;

private:
    bool start(QIODevice *device, int width, int height, int bits, bool alpha, bool floating, bool associated);

    struct State;
    std::unique_ptr<State> d;
};

// A TIFF read a strip or a row of tiles at a time (at most
// LutImageCodec::kMaxDecodedBytes decoded), its samples contiguous or in
// planes, any compression libtiff decodes: RGB or grey of 16-bit (half) or
// 32-bit floating-point samples, with or without alpha; and RGB or grey,
// with or without unassociated alpha, of 8- or 16-bit integer samples, top
// row first. Rows are handed out in order.
class TiffReader
{
public:
    TiffReader();
    ~TiffReader();
    TiffReader(const TiffReader &) = delete;
    TiffReader &operator=(const TiffReader &) = delete;

    enum Opened { Float, Integer, Toolkit, Failed };
    // Reads the header of the TIFF at path: Float or Integer when this
    // reader takes its samples, Toolkit for an integer layout it leaves to
    // the toolkit's decoder, Failed with the reason.
    Opened open(const QString &path);
    int width() const;
    int height() const;
    int bits() const; // 16 or 32 floating point; 8 or 16 integer
    bool hasAlpha() const;
    bool associatedAlpha() const;
    // The next row of a floating-point TIFF as width * 4 values (red,
    // green, blue, alpha; alpha 1 without it; grey in all three colours).
    bool readRow(float *values);
    // The next row of an integer TIFF as width * 4 codes of its depth, the
    // same way (alpha the largest code without it).
    bool readRow(quint16 *codes);
    QString errorString() const;

private:
    struct State;
    std::unique_ptr<State> d;
};
