#pragma once

#include <QString>

#include <cstddef>
#include <memory>

class QImage;
class QIODevice;

// PNG files read and written a scan line at a time through libpng, for the
// LUT images and for pictures of any size. Every row is handed over as
// red, green, blue, alpha codes of the file's depth (8 or 16 bits; palette,
// grey and low depths expanded, an opaque alpha added where the file has
// none). A failure comes back as a reason; nothing is printed.
class PngReader
{
public:
    PngReader();
    ~PngReader();
    PngReader(const PngReader &) = delete;
    PngReader &operator=(const PngReader &) = delete;

    // Opens path and reads the header. False with a reason.
    bool open(const QString &path);

    int width() const;
    int height() const;
    int bits() const;         // 8 or 16
    bool hasAlpha() const;    // an alpha channel or a transparent colour
    bool hasColour() const;   // RGB or a palette, not grey
    bool interlaced() const;  // rows arrive only with readImage

    // Reads the next row of a picture that is not interlaced: width() * 4
    // codes. False with a reason when the data is damaged or cut short.
    bool readRow(quint16 *codes);
    // Reads the whole picture, interlaced or not, into image: RGBA8888 for
    // 8 bits, RGBA64 for 16. False with a reason (also when the image
    // cannot be allocated).
    bool readImage(QImage *image);

    QString errorString() const;

private:
    struct State;
    std::unique_ptr<State> d;
};

class PngWriter
{
public:
    PngWriter();
    ~PngWriter();
    PngWriter(const PngWriter &) = delete;
    PngWriter &operator=(const PngWriter &) = delete;

    // Starts an RGB (or with alpha RGBA) PNG of 8 or 16 bits on device,
    // deflated at the given zlib level (1 fastest, 9 smallest).
    bool open(QIODevice *device, int width, int height, int bits, bool alpha, int compression);
    // Writes the next row from width * 4 codes (alpha ignored without it).
    bool writeRow(const quint16 *codes);
    // Ends the file; everything is in the device afterwards.
    bool finish();

    QString errorString() const;

private:
    struct State;
    std::unique_ptr<State> d;
};
