#pragma once

#include <QString>

#include <memory>

class QIODevice;

// JPEG files read and written a scan line at a time through libjpeg, for
// --apply. Rows are handed over as width * 4 codes of 8 bits (red, green,
// blue, an opaque alpha); grey and CMYK pictures are expanded to RGB. A file
// that ends before its image does, or whose data ends early, fails with a
// reason; libjpeg prints nothing.
class JpegReader
{
public:
    JpegReader();
    ~JpegReader();
    JpegReader(const JpegReader &) = delete;
    JpegReader &operator=(const JpegReader &) = delete;

    // Opens path and reads the header (no pixel is decoded, nothing the
    // size of the picture is allocated). maxMemory bounds what the decoder
    // may allocate later (a progressive file is held whole).
    bool open(const QString &path, qint64 maxMemory);
    int width() const;
    int height() const;
    // The next row: width() * 4 codes. False with a reason.
    bool readRow(quint16 *codes);
    QString errorString() const;

private:
    struct State;
    std::unique_ptr<State> d;
};

class JpegWriter
{
public:
    JpegWriter();
    ~JpegWriter();
    JpegWriter(const JpegWriter &) = delete;
    JpegWriter &operator=(const JpegWriter &) = delete;

    // Starts a baseline RGB JPEG of the given quality (1 to 100) on device.
    bool open(QIODevice *device, int width, int height, int quality);
    // The next row from width * 4 codes of 8 bits (alpha ignored).
    bool writeRow(const quint16 *codes);
    bool finish();
    QString errorString() const;

private:
    struct State;
    std::unique_ptr<State> d;
};
