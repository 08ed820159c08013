#include "image/LutTiff.h"

#include <QIODevice>

#include <tiffio.h>

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
    std::vector<quint16> wide;
    std::vector<quint8> narrow;

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
    LutTiff::quiet();
    LutTiff::clearError();
    State &s = *d;
    s.device = device;
    s.width = width;
    s.bits = bits;
    s.channels = alpha ? 4 : 3;
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
    TIFFSetField(s.tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t(s.channels));
    TIFFSetField(s.tiff, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
    TIFFSetField(s.tiff, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(s.tiff, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_NONE));
    TIFFSetField(s.tiff, TIFFTAG_ORIENTATION, uint16_t(ORIENTATION_TOPLEFT));
    if (alpha) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(s.tiff, TIFFTAG_EXTRASAMPLES, uint16_t(1), &extra);
    }
    TIFFSetField(s.tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(s.tiff, 0));
    if (bits == 16)
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
    if (s.bits == 16) {
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
