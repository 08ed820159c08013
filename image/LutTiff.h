#pragma once

#include <QString>

#include <memory>

class QIODevice;

// TIFF through libtiff: the library's messages, and files written a scan
// line at a time. TIFF files are decoded by the toolkit's plugin, which
// calls the same libtiff: once quiet() has run, nothing libtiff says
// reaches stderr, and its last error on the thread is the reason a decode
// failed.
namespace LutTiff {

// Keeps libtiff's errors (see lastError) and drops its warnings, for the
// whole process. Safe to call any number of times.
void quiet();
// The last error libtiff reported on this thread, "" when none since
// clearError().
QString lastError();
void clearError();

} // namespace LutTiff

// An RGB (or with alpha RGBA, unassociated) TIFF of 8 or 16 bits per
// channel, uncompressed, written row by row on a device that can seek (the
// directory is written last and the header points at it). BigTIFF when the
// pixels would pass 4 GB.
class TiffWriter
{
public:
    TiffWriter();
    ~TiffWriter();
    TiffWriter(const TiffWriter &) = delete;
    TiffWriter &operator=(const TiffWriter &) = delete;

    bool open(QIODevice *device, int width, int height, int bits, bool alpha);
    // The next row from width * 4 codes (red, green, blue, alpha; alpha
    // ignored without it).
    bool writeRow(const quint16 *codes);
    // Writes the directory; everything is in the device afterwards.
    bool finish();
    QString errorString() const;

private:
    struct State;
    std::unique_ptr<State> d;
};
