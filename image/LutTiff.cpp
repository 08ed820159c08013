#include "image/LutTiff.h"

#include "lut/LutFileNames.h"
#include "lut/LutImageCodec.h"

#include <QFile>
#include <QIODevice>

#include <Imath/half.h>
#include <tiffio.h>

#include <algorithm>
#include <type_traits>
#include <cstring>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

thread_local QString tiffError;

void keepError(const char *, const char *format, va_list arguments)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    tiffError = QString::fromLocal8Bit(text);
}

} // namespace

namespace LutTiff {

void quiet()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(keepError);
        TIFFSetWarningHandler(nullptr);
    });
}

QString lastError()
{
    return tiffError;
}

void clearError()
{
    tiffError.clear();
}

} // namespace LutTiff

struct TiffWriter::State
{
    QIODevice *device = nullptr;
    TIFF *tiff = nullptr;
    QString error;
    bool deviceFailed = false;
    int width = 0;
    int bits = 8;
    int channels = 3;
    int row = 0;
    bool floating = false;
    std::vector<quint16> wide; // 16-bit codes, or half values
    std::vector<quint8> narrow;
    std::vector<float> floats;

    ~State()
    {
        if (tiff)
            TIFFCleanup(tiff);
    }

    static State *of(thandle_t handle) { return static_cast<State *>(handle); }

    static tmsize_t readProc(thandle_t, void *, tmsize_t) { return -1; }
    static tmsize_t writeProc(thandle_t handle, void *data, tmsize_t size)
    {
        State *s = of(handle);
        if (s->deviceFailed || s->device->write(static_cast<const char *>(data), qint64(size)) != qint64(size)) {
            s->deviceFailed = true;
            return -1;
        }
        return size;
    }
    static toff_t seekProc(thandle_t handle, toff_t offset, int whence)
    {
        State *s = of(handle);
        qint64 target = qint64(offset);
        if (whence == SEEK_CUR)
            target += s->device->pos();
        else if (whence == SEEK_END)
            target += s->device->size();
        if (s->deviceFailed || target < 0 || !s->device->seek(target)) {
            s->deviceFailed = true;
            return toff_t(-1);
        }
        return toff_t(target);
    }
    static int closeProc(thandle_t) { return 0; }
    static toff_t sizeProc(thandle_t handle) { return toff_t(of(handle)->device->size()); }
    static int mapProc(thandle_t, void **, toff_t *) { return 0; }
    static void unmapProc(thandle_t, void *, toff_t) {}

    bool failed(const char *what)
    {
        if (deviceFailed) {
            error = QStringLiteral("write failed: %1")
                        .arg(device->isSequential() ? QStringLiteral("a TIFF file is written to a file that can seek, not a stream")
                                                    : device->errorString());
        } else {
            const QString detail = LutTiff::lastError();
            error = QStringLiteral("%1%2").arg(QLatin1String(what), detail.isEmpty() ? QString() : QStringLiteral(": ") + detail);
        }
        return false;
    }
};

TiffWriter::TiffWriter() : d(std::make_unique<State>()) {}
TiffWriter::~TiffWriter() = default;

bool TiffWriter::open(QIODevice *device, int width, int height, int bits, bool alpha)
{
    return start(device, width, height, bits, alpha, false, false);
}

bool TiffWriter::openFloat(QIODevice *device, int width, int height, int bits, bool alpha, bool associatedAlpha)
{
    return start(device, width, height, bits, alpha, true, associatedAlpha);
}

bool TiffWriter::start(QIODevice *device, int width, int height, int bits, bool alpha, bool floating, bool associated)
{
    LutTiff::quiet();
    LutTiff::clearError();
    State &s = *d;
    s.device = device;
    s.width = width;
    s.bits = bits;
    s.channels = alpha ? 4 : 3;
    s.floating = floating;
    if (device->isSequential()) {
        s.deviceFailed = true;
        return s.failed("");
    }
    // Classic TIFF addresses 4 GB; the pixels alone tell when that is not enough.
    const double bytes = double(width) * height * s.channels * (bits / 8);
    s.tiff = TIFFClientOpen("output", bytes > 4.0e9 ? "w8" : "w", &s, State::readProc, State::writeProc, State::seekProc,
                            State::closeProc, State::sizeProc, State::mapProc, State::unmapProc);
    if (!s.tiff)
        return s.failed("cannot start the TIFF image");
    TIFFSetField(s.tiff, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(s.tiff, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(s.tiff, TIFFTAG_BITSPERSAMPLE, uint16_t(bits));
    if (floating)
        TIFFSetField(s.tiff, TIFFTAG_SAMPLEFORMAT, uint16_t(SAMPLEFORMAT_IEEEFP));
    TIFFSetField(s.tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t(s.channels));
    TIFFSetField(s.tiff, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
    TIFFSetField(s.tiff, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(s.tiff, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_NONE));
    TIFFSetField(s.tiff, TIFFTAG_ORIENTATION, uint16_t(ORIENTATION_TOPLEFT));
    if (alpha) {
        const uint16_t extra = associated ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(s.tiff, TIFFTAG_EXTRASAMPLES, uint16_t(1), &extra);
    }
    TIFFSetField(s.tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(s.tiff, 0));
    if (floating && bits == 32)
        s.floats.resize(size_t(width) * size_t(s.channels));
    else if (bits == 16)
        s.wide.resize(size_t(width) * size_t(s.channels));
    else
        s.narrow.resize(size_t(width) * size_t(s.channels));
    return true;
}

bool TiffWriter::writeRow(const quint16 *codes)
{
    State &s = *d;
    const size_t channels = size_t(s.channels);
    void *row;
    if (s.bits == 16 && channels == 4) {
        std::memcpy(s.wide.data(), codes, size_t(s.width) * 4 * sizeof(quint16));
        row = s.wide.data();
    } else if (s.bits == 16) {
        for (size_t x = 0; x < size_t(s.width); ++x)
            for (size_t c = 0; c < channels; ++c)
                s.wide[x * channels + c] = codes[4 * x + c];
        row = s.wide.data();
    } else {
        for (size_t x = 0; x < size_t(s.width); ++x)
            for (size_t c = 0; c < channels; ++c)
                s.narrow[x * channels + c] = quint8(codes[4 * x + c]);
        row = s.narrow.data();
    }
    if (TIFFWriteScanline(s.tiff, row, uint32_t(s.row), 0) < 0)
        return s.failed("cannot encode the TIFF image");
    ++s.row;
    return true;
}

bool TiffWriter::writeRow(const float *values)
{
    State &s = *d;
    const size_t channels = size_t(s.channels);
    void *row;
    if (s.bits == 32) {
        for (size_t x = 0; x < size_t(s.width); ++x)
            for (size_t c = 0; c < channels; ++c)
                s.floats[x * channels + c] = values[4 * x + c];
        row = s.floats.data();
    } else {
        for (size_t x = 0; x < size_t(s.width); ++x)
            for (size_t c = 0; c < channels; ++c)
                s.wide[x * channels + c] = Imath::half(values[4 * x + c]).bits();
        row = s.wide.data();
    }
    if (TIFFWriteScanline(s.tiff, row, uint32_t(s.row), 0) < 0)
        return s.failed("cannot encode the TIFF image");
    ++s.row;
    return true;
}

bool TiffWriter::finish()
{
    State &s = *d;
    if (!TIFFFlush(s.tiff))
        return s.failed("cannot encode the TIFF image");
    TIFF *tiff = s.tiff;
    s.tiff = nullptr;
    TIFFClose(tiff);
    return !s.deviceFailed || s.failed("");
}

QString TiffWriter::errorString() const
{
    return d->error;
}

struct TiffReader::State
{
    QFile file;
    TIFF *tiff = nullptr;
    QString error;
    int width = 0, height = 0, bits = 32;
    bool floating = true; // floating-point samples, else 8- or 16-bit integers
    int samples = 3;     // samples a pixel has in the file
    int colours = 3;     // 3 for RGB, 1 for grey
    bool alpha = false, associated = false;
    bool planar = false; // one plane per sample
    bool tiled = false;
    int blockWidth = 0, blockRows = 0; // a tile, or a strip (the width by its rows)
    std::vector<uchar> raw;            // one strip or tile as libtiff decodes it
    std::vector<float> block;          // blockRows rows of width * 4 values (floating point)
    std::vector<quint16> codes;        // the same as codes (integers)
    int blockStart = 0, blockHeld = 0; // the first row the block holds and how many
    int row = 0;

    ~State()
    {
        if (tiff)
            TIFFClose(tiff);
    }

    Opened openInteger(uint16_t format, uint32_t width, uint32_t height, uint16_t bits, uint16_t samples,
                       uint16_t planar);
    // The strips or tiles and the buffers they take; false with the reason.
    bool layout();

    // Hands out the next row from block (floating-point values or codes,
    // as the picture holds; alpha fill without it), decoding the next strip
    // or row of tiles when the block is used up.
    template <typename T>
    bool nextRow(std::vector<T> &rows, T fill, T *out, bool wantFloating)
    {
        if (row >= height || floating != wantFloating)
            return fail(QStringLiteral("cannot decode the TIFF image: no rows left"));
        if (row >= blockStart + blockHeld) {
            if (rows.empty())
                rows.assign(size_t(width) * size_t(blockRows) * 4, fill);
            if (!decodeBlock(row))
                return false;
        }
        std::memcpy(out, rows.data() + size_t(row - blockStart) * size_t(width) * 4, size_t(width) * 4 * sizeof(T));
        ++row;
        return true;
    }

    static QFile &of(thandle_t handle) { return static_cast<State *>(handle)->file; }
    static tmsize_t readProc(thandle_t handle, void *data, tmsize_t size)
    {
        return tmsize_t(of(handle).read(static_cast<char *>(data), qint64(size)));
    }
    static tmsize_t writeProc(thandle_t, void *, tmsize_t) { return -1; }
    static toff_t seekProc(thandle_t handle, toff_t offset, int whence)
    {
        QFile &f = of(handle);
        qint64 target = qint64(offset);
        if (whence == SEEK_CUR)
            target += f.pos();
        else if (whence == SEEK_END)
            target += f.size();
        return target >= 0 && f.seek(target) ? toff_t(target) : toff_t(-1);
    }
    static int closeProc(thandle_t) { return 0; }
    static toff_t sizeProc(thandle_t handle) { return toff_t(of(handle).size()); }
    static int mapProc(thandle_t, void **, toff_t *) { return 0; }
    static void unmapProc(thandle_t, void *, toff_t) {}

    // The reason with libtiff's detail; place names the strip where libtiff
    // says "at scanline 4294967295" (a strip read knows no scan line).
    bool fail(const QString &what, const QString &place = QString())
    {
        QString detail = LutTiff::lastError();
        if (!place.isEmpty())
            detail.replace(QLatin1String("at scanline 4294967295"), place);
        error = detail.isEmpty() ? what : QStringLiteral("%1: %2").arg(what, detail);
        return false;
    }

    float sampleAt(const uchar *p) const
    {
        if (bits == 32) {
            float v;
            std::memcpy(&v, p, sizeof v);
            return v;
        }
        quint16 h;
        std::memcpy(&h, p, sizeof h);
        Imath::half value;
        value.setBits(h);
        return float(value);
    }

    quint16 codeAt(const uchar *p) const
    {
        if (bits == 8)
            return *p;
        quint16 code;
        std::memcpy(&code, p, sizeof code);
        return code;
    }

    // Where sample s of the file goes among red, green, blue, alpha (-1: dropped).
    int channelOf(int s) const
    {
        if (s < colours)
            return s;
        return s == colours && alpha ? 3 : -1;
    }

    // Decodes the strip, or the row of tiles, that holds row y.
    bool decodeBlock(int y)
    {
        blockStart = y / blockRows * blockRows;
        blockHeld = std::min(blockRows, height - blockStart);
        const int planes = planar ? samples : 1;
        const int perPixel = planar ? 1 : samples;
        const size_t bytes = size_t(bits / 8);
        for (int plane = 0; plane < planes; ++plane) {
            for (int x0 = 0; x0 < width; x0 += blockWidth) {
                LutTiff::clearError();
                tmsize_t got;
                uint32_t strip = 0;
                if (tiled) {
                    got = TIFFReadTile(tiff, raw.data(), uint32_t(x0), uint32_t(blockStart), 0, uint16_t(plane));
                } else {
                    strip = TIFFComputeStrip(tiff, uint32_t(blockStart), uint16_t(plane));
                    got = TIFFReadEncodedStrip(tiff, strip, raw.data(), tmsize_t(raw.size()));
                }
                const size_t needed = size_t(tiled ? blockRows : blockHeld) * size_t(blockWidth) * size_t(perPixel) * bytes;
                if (got < 0 || size_t(got) < needed)
                    return fail(QStringLiteral("cannot decode the TIFF image"),
                                tiled ? QString() : QStringLiteral("on strip %1").arg(strip));
                if (floating)
                    spread(block.data(), x0, plane, [this](const uchar *p) { return sampleAt(p); });
                else
                    spread(codes.data(), x0, plane, [this](const uchar *p) { return codeAt(p); });
            }
        }
        return true;
    }

    // Spreads the strip or tile in raw, at column x0 (of plane, when the
    // samples are in planes), over the block's rows of four channels.
    template <typename T, typename Sample>
    void spread(T *first, int x0, int plane, const Sample &sample) const
    {
        const int perPixel = planar ? 1 : samples;
        const size_t bytes = size_t(bits / 8);
        const int columns = std::min(blockWidth, width - x0);
        // 16-bit RGBA, the layout of the block: row by row as it is.
        if (std::is_same<T, quint16>::value && !planar && bits == 16 && samples == 4 && colours == 3 && alpha) {
            for (int r = 0; r < blockHeld; ++r)
                std::memcpy(first + (size_t(r) * size_t(width) + size_t(x0)) * 4,
                            raw.data() + size_t(r) * size_t(blockWidth) * 4 * bytes, size_t(columns) * 4 * bytes);
            return;
        }
        for (int r = 0; r < blockHeld; ++r) {
            T *out = first + (size_t(r) * size_t(width) + size_t(x0)) * 4;
            const uchar *in = raw.data() + size_t(r) * size_t(blockWidth) * size_t(perPixel) * bytes;
            for (int x = 0; x < columns; ++x) {
                for (int k = 0; k < perPixel; ++k) {
                    const int c = channelOf(planar ? plane : k);
                    if (c >= 0)
                        out[4 * x + c] = sample(in + (size_t(x) * size_t(perPixel) + size_t(k)) * bytes);
                }
                if (colours == 1)
                    out[4 * x + 1] = out[4 * x + 2] = out[4 * x];
            }
        }
    }
};

TiffReader::TiffReader() : d(std::make_unique<State>()) {}
TiffReader::~TiffReader() = default;

TiffReader::Opened TiffReader::open(const QString &path)
{
    LutTiff::quiet();
    LutTiff::clearError();
    State &s = *d;
    QString reason;
    if (!LutFileNames::openForReading(s.file, path, &reason)) {
        s.error = QStringLiteral("cannot open: %1").arg(reason);
        return Failed;
    }
    s.tiff = TIFFClientOpen("input", "rm", &s, State::readProc, State::writeProc, State::seekProc, State::closeProc,
                            State::sizeProc, State::mapProc, State::unmapProc);
    if (!s.tiff) {
        s.fail(QStringLiteral("cannot read the image header"));
        return Failed;
    }
    uint16_t format = SAMPLEFORMAT_UINT, bits = 0, samples = 0, photometric = 0, planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(s.tiff, TIFFTAG_SAMPLEFORMAT, &format);
    uint32_t width = 0, height = 0;
    TIFFGetField(s.tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(s.tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(s.tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(s.tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(s.tiff, TIFFTAG_PLANARCONFIG, &planar);
    if (format != SAMPLEFORMAT_IEEEFP)
        return s.openInteger(format, width, height, bits, samples, planar);
    if (!TIFFGetField(s.tiff, TIFFTAG_PHOTOMETRIC, &photometric))
        photometric = samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    const auto refuse = [&s](const QString &why) {
        s.error = QStringLiteral("cannot read the image header: %1").arg(why);
        return Failed;
    };
    if (bits != 16 && bits != 32)
        return refuse(QStringLiteral("%1-bit floating-point samples; 16- and 32-bit ones are read").arg(bits));
    if (photometric == PHOTOMETRIC_RGB && samples >= 3)
        s.colours = 3;
    else if (photometric == PHOTOMETRIC_MINISBLACK && samples >= 1)
        s.colours = 1;
    else
        return refuse(QStringLiteral("floating-point samples are read as RGB or grey (minimum black), not photometric "
                                     "interpretation %1 with %2 samples a pixel")
                          .arg(photometric)
                          .arg(samples));
    if (width == 0 || height == 0)
        return refuse(QStringLiteral("the picture has no pixels"));
    if (width > uint32_t(LutImageCodec::kMaxPictureWidth) || height > uint32_t(1 << 30))
        return refuse(QStringLiteral("%1 x %2 pixels: wider than %3 pixels, the widest row --apply takes")
                          .arg(width)
                          .arg(height)
                          .arg(LutImageCodec::kMaxPictureWidth));
    uint16_t extraCount = 0;
    uint16_t *extra = nullptr;
    if (samples > s.colours && TIFFGetField(s.tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extraCount > 0) {
        s.alpha = extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA;
        s.associated = extra[0] == EXTRASAMPLE_ASSOCALPHA;
    } else if (samples == s.colours + 1) {
        s.alpha = true; // an extra sample not declared: taken as alpha, as readers commonly do
    }
    s.width = int(width);
    s.height = int(height);
    s.bits = bits;
    s.samples = samples;
    s.planar = planar == PLANARCONFIG_SEPARATE && samples > 1;
    return s.layout() ? Float : Failed;
}

TiffReader::Opened TiffReader::State::openInteger(uint16_t format, uint32_t width, uint32_t height, uint16_t bits,
                                                  uint16_t samples, uint16_t planar)
{
    // The layouts taken here are those the toolkit hands over as they are;
    // any other (and one too large for the block) is left to it, as are
    // premultiplied alpha and an extra sample that is not declared alpha.
    uint16_t photometric = 0, orientation = ORIENTATION_TOPLEFT, compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    uint16_t extraCount = 0;
    uint16_t *extra = nullptr;
    const bool unassociated = TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extraCount == 1
        && extra[0] == EXTRASAMPLE_UNASSALPHA;
    if (format != SAMPLEFORMAT_UINT || (bits != 8 && bits != 16) || orientation != ORIENTATION_TOPLEFT
        || compression == COMPRESSION_OJPEG || !TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric)
        || width == 0 || height == 0 || width > uint32_t(LutImageCodec::kMaxPictureWidth) || height > uint32_t(1 << 30))
        return Toolkit;
    if (photometric == PHOTOMETRIC_RGB && (samples == 3 || (samples == 4 && unassociated)))
        colours = 3;
    else if (photometric == PHOTOMETRIC_MINISBLACK && (samples == 1 || (samples == 2 && unassociated)))
        colours = 1;
    else
        return Toolkit;
    floating = false;
    alpha = samples == colours + 1;
    this->width = int(width);
    this->height = int(height);
    this->bits = bits;
    this->samples = samples;
    this->planar = planar == PLANARCONFIG_SEPARATE && samples > 1;
    const QString before = error;
    if (layout())
        return Integer;
    error = before;
    return Toolkit;
}

bool TiffReader::State::layout()
{
    State &s = *this;
    const auto refuse = [&s](const QString &why) {
        s.error = QStringLiteral("cannot read the image header: %1").arg(why);
        return false;
    };
    const int samples = s.samples, bits = s.bits;
    const uint32_t height = uint32_t(s.height);
    s.tiled = TIFFIsTiled(s.tiff);
    tmsize_t rawSize;
    if (s.tiled) {
        uint32_t tileWidth = 0, tileLength = 0;
        TIFFGetField(s.tiff, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(s.tiff, TIFFTAG_TILELENGTH, &tileLength);
        if (tileWidth == 0 || tileLength == 0 || tileWidth > (1u << 20) || tileLength > (1u << 20))
            return refuse(QStringLiteral("tiles of %1 x %2 pixels").arg(tileWidth).arg(tileLength));
        s.blockWidth = int(tileWidth);
        s.blockRows = int(tileLength);
        rawSize = TIFFTileSize(s.tiff);
    } else {
        uint32_t rows = 0;
        TIFFGetFieldDefaulted(s.tiff, TIFFTAG_ROWSPERSTRIP, &rows);
        s.blockWidth = s.width;
        s.blockRows = int(std::min<uint32_t>(std::max<uint32_t>(rows, 1), height));
        rawSize = TIFFStripSize(s.tiff);
    }
    // Both buffers are bounded before anything is allocated: the decoded
    // block and libtiff's strip or tile.
    const double blockBytes = double(s.width) * s.blockRows * 4 * (s.floating ? sizeof(float) : sizeof(quint16));
    const double tileBytes = double(s.blockWidth) * s.blockRows * (s.planar ? 1 : samples) * (bits / 8);
    if (blockBytes > double(LutImageCodec::kMaxDecodedBytes) || tileBytes > double(LutImageCodec::kMaxDecodedBytes))
        return refuse(QStringLiteral("its %1 of %2 rows take %3 MB decoded, above the limit of %4 MB")
                          .arg(s.tiled ? QStringLiteral("tiles") : QStringLiteral("strips"))
                          .arg(s.blockRows)
                          .arg(qint64(std::max(blockBytes, tileBytes)) >> 20)
                          .arg(LutImageCodec::kMaxDecodedBytes >> 20));
    if (rawSize <= 0 || double(rawSize) > double(LutImageCodec::kMaxDecodedBytes))
        return s.fail(QStringLiteral("cannot read the image header: a strip or tile size libtiff cannot take"));
    // Every strip or tile lies in the file, past the header. For a damaged
    // file libtiff makes up what is missing (an offset it lacks becomes 0, a
    // size that looks too small an estimate) and would hand out the header
    // or other strips' bytes as pixels, a picture from nothing.
    const uint64_t fileSize = uint64_t(std::max<qint64>(s.file.size(), 0));
    const uint32_t striles = s.tiled ? TIFFNumberOfTiles(s.tiff) : TIFFNumberOfStrips(s.tiff);
    for (uint32_t i = 0; i < striles; ++i) {
        const uint64_t offset = TIFFGetStrileOffset(s.tiff, i), size = TIFFGetStrileByteCount(s.tiff, i);
        if (offset < 8 || size == 0 || offset > fileSize || size > fileSize - offset)
            return refuse(QStringLiteral("%1 %2 of %3 lies outside the file (%4 bytes at %5 of %6)")
                              .arg(s.tiled ? QStringLiteral("tile") : QStringLiteral("strip"))
                              .arg(i + 1)
                              .arg(striles)
                              .arg(size)
                              .arg(offset)
                              .arg(fileSize));
    }
    s.raw.resize(size_t(std::max<double>(double(rawSize), tileBytes)));
    return true;
}

int TiffReader::width() const { return d->width; }
int TiffReader::height() const { return d->height; }
int TiffReader::bits() const { return d->bits; }
bool TiffReader::hasAlpha() const { return d->alpha; }
bool TiffReader::associatedAlpha() const { return d->associated; }

bool TiffReader::readRow(float *values)
{
    return d->nextRow(d->block, 1.0f, values, true);
}

bool TiffReader::readRow(quint16 *codes)
{
    return d->nextRow(d->codes, quint16((1 << d->bits) - 1), codes, false);
}

QString TiffReader::errorString() const
{
    return d->error;
}
