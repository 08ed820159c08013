#pragma once

#include <QString>

#include <memory>

class QIODevice;

// OpenEXR pictures through the OpenEXR library, a block of scan lines at a
// time: the red, green, blue and (when there is one) alpha channels of the
// first part, half or float, scan lines or tiles, any compression the
// library decodes. Values are handed over as floats as the file holds them
// (beyond 0..1, infinities and NaNs too). The header is read by the
// library's C++ interface (which the writer copies), the pixels decoded by
// its core, which checks every chunk's size, or by the C++ interface for
// DWAA and DWAB, which OpenEXR 3.1's core cannot decompress. Every
// exception or error code of the library becomes a one-line reason.
class ExrReader
{
public:
    ExrReader();
    ~ExrReader();
    ExrReader(const ExrReader &) = delete;
    ExrReader &operator=(const ExrReader &) = delete;

    // True when the first bytes are an OpenEXR file's.
    static bool isExr(const QByteArray &head);
    // Reads the header; false with the reason.
    bool open(const QString &path);
    // The data window's size.
    int width() const;
    int height() const;
    bool hasAlpha() const;
    // 16 (half) or 32 (float) for red, green, blue and alpha.
    int bits(int channel) const;
    // The next row as width * 4 values (alpha 1 without it).
    bool readRow(float *values);
    QString errorString() const;

private:
    friend class ExrWriter;
    struct State;
    std::unique_ptr<State> d;
};

// An OpenEXR file of scan lines written a block of rows at a time on a
// device that can seek (the line offsets are written last): red, green,
// blue and optionally alpha, each half or float. Written like an EXR
// picture (like != null), it keeps its header: data and display windows,
// compression and the other attributes (a tiled picture is written as scan
// lines, top to bottom); otherwise ZIP compression. ZIP and ZIPS chunks are
// deflated here by libdeflate behind the library's header; the library
// writes the other compressions.
class ExrWriter
{
public:
    ExrWriter();
    ~ExrWriter();
    ExrWriter(const ExrWriter &) = delete;
    ExrWriter &operator=(const ExrWriter &) = delete;

    // bits: 16 or 32 for red, green, blue and alpha.
    bool open(QIODevice *device, int width, int height, const int bits[4], bool alpha, const ExrReader *like);
    // The next row from width * 4 values.
    bool writeRow(const float *values);
    // Writes what is left and the line offsets.
    bool finish();
    QString errorString() const;

private:
    struct State;
    std::unique_ptr<State> d;
};
