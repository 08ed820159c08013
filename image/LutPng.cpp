#include "image/LutPng.h"

#include "lut/LutFileNames.h"

#include <QIODevice>
#include <QImage>
#include <QRgba64>
#include <QSysInfo>

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kChannels = 4;
constexpr bool kLittleEndian = QSysInfo::ByteOrder == QSysInfo::LittleEndian;

// libpng reports an error by a long jump back to the setjmp of the call
// that failed. The functions that call it create no objects with
// destructors between the setjmp and the calls, so the jump skips nothing;
// the message is kept here rather than printed.
struct PngMessage
{
    char text[200] = {};

    static void onError(png_structp png, png_const_charp message)
    {
        auto *self = static_cast<PngMessage *>(png_get_error_ptr(png));
        std::snprintf(self->text, sizeof self->text, "%s", message);
        png_longjmp(png, 1);
    }
    static void onWarning(png_structp, png_const_charp) {}
};

} // namespace

// --- Reading -----------------------------------------------------------------

struct PngReader::State
{
    std::FILE *file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngMessage message;
    QString error;
    int width = 0;
    int height = 0;
    int bits = 8;
    bool alpha = false;
    bool colour = false;
    int passes = 1;
    std::vector<png_byte> row;

    ~State()
    {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        if (file)
            std::fclose(file);
    }

    bool failed(const char *what)
    {
        // libpng's own read function says only "Read Error" when the file
        // runs out before the image does.
        const QString detail = file && std::feof(file) ? QStringLiteral("the file ends before the image does")
                                                       : QString::fromLocal8Bit(message.text);
        error = QStringLiteral("%1: %2").arg(QLatin1String(what), detail);
        return false;
    }

    // Widens the row just read (8-bit codes or native 16-bit ones) into codes.
    void widen(quint16 *codes) const
    {
        const size_t count = size_t(width) * kChannels;
        if (bits == 16)
            std::memcpy(codes, row.data(), count * sizeof(quint16));
        else
            std::copy_n(row.data(), count, codes);
    }
};

PngReader::PngReader() : d(std::make_unique<State>()) {}
PngReader::~PngReader() = default;

bool PngReader::open(const QString &path)
{
    State &s = *d;
    QString reason;
    s.file = LutFileNames::openStream(path, &reason);
    if (!s.file) {
        s.error = QStringLiteral("cannot open: %1").arg(reason);
        return false;
    }
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s.message, PngMessage::onError, PngMessage::onWarning);
    s.info = s.png ? png_create_info_struct(s.png) : nullptr;
    if (!s.info) {
        s.error = QStringLiteral("out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(s.png)))
        return s.failed("cannot read the PNG header");
    png_init_io(s.png, s.file);
    png_read_info(s.png, s.info);
    png_uint_32 w = 0, h = 0;
    int depth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(s.png, s.info, &w, &h, &depth, &colourType, &interlace, nullptr, nullptr);
    s.width = int(w);
    s.height = int(h);
    s.bits = depth == 16 ? 16 : 8;
    s.colour = (colourType & PNG_COLOR_MASK_COLOR) != 0;
    s.alpha = (colourType & PNG_COLOR_MASK_ALPHA) || png_get_valid(s.png, s.info, PNG_INFO_tRNS);
    // Palette, low-depth grey and a transparent colour become RGB(A) of 8
    // or 16 bits; a picture without alpha gets an opaque filler, so every
    // row arrives as four channels.
    png_set_expand(s.png);
    if (!s.colour)
        png_set_gray_to_rgb(s.png);
    if (s.bits == 16 && kLittleEndian)
        png_set_swap(s.png);
    if (!s.alpha)
        png_set_filler(s.png, s.bits == 16 ? 0xffff : 0xff, PNG_FILLER_AFTER);
    if (interlace != PNG_INTERLACE_NONE)
        s.passes = png_set_interlace_handling(s.png);
    png_read_update_info(s.png, s.info);
    const size_t rowBytes = png_get_rowbytes(s.png, s.info);
    if (rowBytes != size_t(s.width) * kChannels * size_t(s.bits / 8)) {
        s.error = QStringLiteral("cannot read the PNG header: unexpected row layout");
        return false;
    }
    return true;
}

int PngReader::width() const { return d->width; }
int PngReader::height() const { return d->height; }
int PngReader::bits() const { return d->bits; }
bool PngReader::hasAlpha() const { return d->alpha; }
bool PngReader::hasColour() const { return d->colour; }
bool PngReader::interlaced() const { return d->passes > 1; }
QString PngReader::errorString() const { return d->error; }

bool PngReader::readRow(quint16 *codes)
{
    State &s = *d;
    if (s.passes > 1) {
        s.error = QStringLiteral("an interlaced PNG has no rows to read one at a time");
        return false;
    }
    if (s.row.empty())
        s.row.resize(size_t(s.width) * kChannels * size_t(s.bits / 8));
    if (setjmp(png_jmpbuf(s.png)))
        return s.failed("cannot decode the PNG image");
    png_read_row(s.png, s.row.data(), nullptr);
    s.widen(codes);
    return true;
}

bool PngReader::readImage(QImage *image)
{
    State &s = *d;
    // RGBA8888 keeps its bytes in red, green, blue, alpha order; RGBA64
    // keeps its 16-bit channels so in memory on a little-endian machine.
    *image = QImage(s.width, s.height, s.bits == 16 ? QImage::Format_RGBA64 : QImage::Format_RGBA8888);
    if (image->isNull()) {
        s.error = QStringLiteral("out of memory for a %1 x %2 image").arg(s.width).arg(s.height);
        return false;
    }
    QImage &target = *image;
    if (setjmp(png_jmpbuf(s.png)))
        return s.failed("cannot decode the PNG image");
    for (int pass = 0; pass < s.passes; ++pass) {
        for (int y = 0; y < s.height; ++y)
            png_read_row(s.png, target.scanLine(y), nullptr);
    }
    if (s.bits == 16 && !kLittleEndian) {
        for (int y = 0; y < s.height; ++y) {
            auto *line = reinterpret_cast<quint16 *>(target.scanLine(y));
            for (int x = 0; x < s.width; ++x) {
                const quint16 *p = line + kChannels * x;
                const QRgba64 pixel = QRgba64::fromRgba64(p[0], p[1], p[2], p[3]);
                std::memcpy(line + kChannels * x, &pixel, sizeof pixel);
            }
        }
    }
    return true;
}

// --- Writing -----------------------------------------------------------------

struct PngWriter::State
{
    QIODevice *device = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngMessage message;
    QString error;
    bool deviceFailed = false;
    int width = 0;
    int bits = 8;
    bool alpha = false;
    std::vector<png_byte> row;

    ~State()
    {
        if (png)
            png_destroy_write_struct(&png, info ? &info : nullptr);
    }

    static void onWrite(png_structp png, png_bytep data, size_t length)
    {
        auto *self = static_cast<State *>(png_get_io_ptr(png));
        if (self->device->write(reinterpret_cast<const char *>(data), qint64(length)) != qint64(length)) {
            self->deviceFailed = true;
            png_error(png, "write failed");
        }
    }

    bool failed()
    {
        error = deviceFailed ? QStringLiteral("write failed: %1").arg(device->errorString())
                             : QStringLiteral("cannot encode the PNG image: %1").arg(QString::fromLocal8Bit(message.text));
        return false;
    }
};

PngWriter::PngWriter() : d(std::make_unique<State>()) {}
PngWriter::~PngWriter() = default;

bool PngWriter::open(QIODevice *device, int width, int height, int bits, bool alpha, int compression)
{
    State &s = *d;
    s.device = device;
    s.width = width;
    s.bits = bits;
    s.alpha = alpha;
    s.row.resize(size_t(width) * (alpha ? 4 : 3) * size_t(bits / 8));
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &s.message, PngMessage::onError, PngMessage::onWarning);
    s.info = s.png ? png_create_info_struct(s.png) : nullptr;
    if (!s.info) {
        s.error = QStringLiteral("out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(s.png)))
        return s.failed();
    png_set_write_fn(s.png, &s, State::onWrite, nullptr);
    png_set_compression_level(s.png, compression);
    png_set_IHDR(s.png, s.info, png_uint_32(width), png_uint_32(height), bits,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(s.png, s.info);
    if (bits == 16 && kLittleEndian)
        png_set_swap(s.png);
    return true;
}

bool PngWriter::writeRow(const quint16 *codes)
{
    State &s = *d;
    const int channels = s.alpha ? 4 : 3;
    if (s.bits == 16) {
        auto *out = reinterpret_cast<quint16 *>(s.row.data());
        for (int x = 0; x < s.width; ++x)
            std::copy_n(codes + kChannels * size_t(x), channels, out + channels * size_t(x));
    } else {
        for (int x = 0; x < s.width; ++x) {
            for (int c = 0; c < channels; ++c)
                s.row[size_t(channels) * size_t(x) + size_t(c)] = png_byte(codes[kChannels * size_t(x) + size_t(c)]);
        }
    }
    if (setjmp(png_jmpbuf(s.png)))
        return s.failed();
    png_write_row(s.png, s.row.data());
    return true;
}

bool PngWriter::finish()
{
    State &s = *d;
    if (setjmp(png_jmpbuf(s.png)))
        return s.failed();
    png_write_end(s.png, s.info);
    return true;
}

QString PngWriter::errorString() const
{
    return d->error;
}
