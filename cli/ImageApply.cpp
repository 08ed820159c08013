#include "cli/ImageApply.h"

#include "calc/LutCalc.h"
#include "lut/LutImageInput.h"
#include "lut/LutTextOutput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QRgba64>
#include <QtEndian>

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace ImageApply {

namespace {

// Every scan line is held as red, green, blue, alpha codes of its depth.
constexpr int kChannels = 4;
// The pixels of one band: enough to keep every thread busy, small enough
// that a band of a very wide picture stays a few MB.
constexpr qint64 kBandPixels = 1 << 18;
// A picture the toolkit decodes whole may take at most this much memory
// (at 8 bytes a pixel for 16 bits); a header claiming more is refused
// before any pixel is decoded.
constexpr qint64 kMaxDecodedBytes = qint64(1) << 30;

// A picture handed out one scan line at a time.
class RowReader
{
public:
    virtual ~RowReader() = default;
    // Reads the next scan line into row (width * 4 codes). False with a
    // reason when the picture cannot be decoded.
    virtual bool readRow(quint16 *row) = 0;

    int width = 0;
    int height = 0;
    int bits = 8;       // 8 or 16 per channel
    bool alpha = false; // the picture has an alpha channel (or a transparent colour)
    QString reason;
};

class RowWriter
{
public:
    virtual ~RowWriter() = default;
    virtual bool writeRow(const quint16 *row) = 0;
    // Ends the picture; everything is in the device afterwards.
    virtual bool finish() = 0;
    QString reason;
};

// --- PNG, row by row through libpng -----------------------------------------

// libpng reports errors by a long jump back to the setjmp of the call that
// failed. The functions that call it keep no objects with destructors of
// their own between the setjmp and the calls, so the jump skips nothing.
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

class PngReader final : public RowReader
{
public:
    ~PngReader() override
    {
        if (m_png)
            png_destroy_read_struct(&m_png, &m_info, nullptr);
        if (m_file)
            std::fclose(m_file);
    }

    enum class Opened { Yes, No, Interlaced };

    Opened open(const QString &path)
    {
        m_file = std::fopen(QFile::encodeName(path).constData(), "rb");
        if (!m_file) {
            reason = QStringLiteral("cannot open: %1").arg(qt_error_string(errno));
            return Opened::No;
        }
        m_png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &m_message, PngMessage::onError, PngMessage::onWarning);
        m_info = m_png ? png_create_info_struct(m_png) : nullptr;
        if (!m_info) {
            reason = QStringLiteral("out of memory");
            return Opened::No;
        }
        if (setjmp(png_jmpbuf(m_png))) {
            reason = QStringLiteral("cannot decode the PNG image: %1").arg(QString::fromLocal8Bit(m_message.text));
            return Opened::No;
        }
        png_init_io(m_png, m_file);
        png_read_info(m_png, m_info);
        png_uint_32 w = 0, h = 0;
        int depth = 0, colour = 0, interlace = 0;
        png_get_IHDR(m_png, m_info, &w, &h, &depth, &colour, &interlace, nullptr, nullptr);
        if (interlace != PNG_INTERLACE_NONE)
            return Opened::Interlaced;
        width = int(w);
        height = int(h);
        bits = depth == 16 ? 16 : 8;
        alpha = (colour & PNG_COLOR_MASK_ALPHA) || png_get_valid(m_png, m_info, PNG_INFO_tRNS);
        // Palette, low-depth grey and a transparent colour become RGB(A) of
        // 8 or 16 bits; a picture without alpha gets an opaque filler, so
        // every row arrives as four channels.
        png_set_expand(m_png);
        if (!(colour & PNG_COLOR_MASK_COLOR))
            png_set_gray_to_rgb(m_png);
        if (bits == 16 && QSysInfo::ByteOrder == QSysInfo::LittleEndian)
            png_set_swap(m_png);
        if (!alpha)
            png_set_filler(m_png, bits == 16 ? 0xffff : 0xff, PNG_FILLER_AFTER);
        png_read_update_info(m_png, m_info);
        m_rowBytes = png_get_rowbytes(m_png, m_info);
        if (m_rowBytes != size_t(width) * kChannels * size_t(bits / 8)) {
            reason = QStringLiteral("cannot decode the PNG image: unexpected row layout");
            return Opened::No;
        }
        m_buffer.resize(m_rowBytes);
        return Opened::Yes;
    }

    bool readRow(quint16 *row) override
    {
        if (setjmp(png_jmpbuf(m_png))) {
            reason = QStringLiteral("cannot decode the PNG image: %1").arg(QString::fromLocal8Bit(m_message.text));
            return false;
        }
        png_read_row(m_png, m_buffer.data(), nullptr);
        const qint64 codes = qint64(width) * kChannels;
        if (bits == 16) {
            std::copy_n(reinterpret_cast<const quint16 *>(m_buffer.data()), codes, row);
        } else {
            for (qint64 i = 0; i < codes; ++i)
                row[i] = m_buffer[size_t(i)];
        }
        return true;
    }

private:
    std::FILE *m_file = nullptr;
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
    PngMessage m_message;
    size_t m_rowBytes = 0;
    std::vector<png_byte> m_buffer;
};

class PngWriter final : public RowWriter
{
public:
    ~PngWriter() override
    {
        if (m_png)
            png_destroy_write_struct(&m_png, &m_info);
    }

    bool open(QIODevice *device, int width, int height, int bits, bool alpha)
    {
        m_device = device;
        m_width = width;
        m_bits = bits;
        m_alpha = alpha;
        m_buffer.resize(size_t(width) * (alpha ? 4 : 3) * size_t(bits / 8));
        m_png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &m_message, PngMessage::onError, PngMessage::onWarning);
        m_info = m_png ? png_create_info_struct(m_png) : nullptr;
        if (!m_info) {
            reason = QStringLiteral("out of memory");
            return false;
        }
        if (setjmp(png_jmpbuf(m_png)))
            return failed();
        png_set_write_fn(m_png, this, onWrite, nullptr);
        // Deflate's fast levels pack smooth pictures nearly as well as
        // its best and take a fraction of the time on large ones.
        png_set_compression_level(m_png, 3);
        png_set_IHDR(m_png, m_info, png_uint_32(width), png_uint_32(height), bits,
                     alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(m_png, m_info);
        if (bits == 16 && QSysInfo::ByteOrder == QSysInfo::LittleEndian)
            png_set_swap(m_png);
        return true;
    }

    bool writeRow(const quint16 *row) override
    {
        const int channels = m_alpha ? 4 : 3;
        if (m_bits == 16) {
            auto *out = reinterpret_cast<quint16 *>(m_buffer.data());
            for (int x = 0; x < m_width; ++x)
                std::copy_n(row + kChannels * qint64(x), channels, out + channels * qint64(x));
        } else {
            for (int x = 0; x < m_width; ++x) {
                for (int c = 0; c < channels; ++c)
                    m_buffer[size_t(channels) * size_t(x) + size_t(c)] = png_byte(row[kChannels * qint64(x) + c]);
            }
        }
        if (setjmp(png_jmpbuf(m_png)))
            return failed();
        png_write_row(m_png, m_buffer.data());
        return true;
    }

    bool finish() override
    {
        if (setjmp(png_jmpbuf(m_png)))
            return failed();
        png_write_end(m_png, m_info);
        return true;
    }

private:
    static void onWrite(png_structp png, png_bytep data, size_t length)
    {
        auto *self = static_cast<PngWriter *>(png_get_io_ptr(png));
        if (self->m_device->write(reinterpret_cast<const char *>(data), qint64(length)) != qint64(length)) {
            self->m_deviceFailed = true;
            png_error(png, "write failed");
        }
    }

    bool failed()
    {
        reason = m_deviceFailed ? m_device->errorString() : QString::fromLocal8Bit(m_message.text);
        return false;
    }

    QIODevice *m_device = nullptr;
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
    PngMessage m_message;
    int m_width = 0;
    int m_bits = 8;
    bool m_alpha = false;
    bool m_deviceFailed = false;
    std::vector<png_byte> m_buffer;
};

// --- Other types, decoded and encoded whole by the toolkit -------------------

class WholeImageReader final : public RowReader
{
public:
    bool open(const QString &path)
    {
        QImageReader reader;
        if (!LutImageInput::open(reader, path, &reason, LutImageInput::Pictures))
            return false;
        const QSize size = reader.size();
        if (!size.isValid() || size.isEmpty()) {
            reason = QStringLiteral("cannot read the image header: %1").arg(reader.errorString());
            return false;
        }
        const qint64 bytes = qint64(size.width()) * size.height() * 8;
        if (bytes > kMaxDecodedBytes) {
            reason = QStringLiteral("%1 x %2 pixels is too large to decode whole (at most %3 MB); a non-interlaced "
                                    "PNG of any size is read row by row")
                         .arg(size.width())
                         .arg(size.height())
                         .arg(kMaxDecodedBytes >> 20);
            return false;
        }
        QImage image = reader.read();
        if (image.isNull()) {
            reason = QStringLiteral("cannot load the image: %1").arg(reader.errorString());
            return false;
        }
        bits = LutImageInput::isSixteenBit(image.format()) ? 16 : 8;
        alpha = image.hasAlphaChannel();
        m_image = std::move(image).convertToFormat(bits == 16 ? QImage::Format_RGBA64 : QImage::Format_ARGB32);
        if (m_image.isNull()) {
            reason = QStringLiteral("out of memory converting the image");
            return false;
        }
        width = m_image.width();
        height = m_image.height();
        return true;
    }

    bool readRow(quint16 *row) override
    {
        const uchar *line = m_image.constScanLine(m_row++);
        for (int x = 0; x < width; ++x) {
            quint16 *out = row + kChannels * qint64(x);
            if (bits == 16) {
                const QRgba64 p = reinterpret_cast<const QRgba64 *>(line)[x];
                out[0] = p.red();
                out[1] = p.green();
                out[2] = p.blue();
                out[3] = p.alpha();
            } else {
                const QRgb p = reinterpret_cast<const QRgb *>(line)[x];
                out[0] = quint16(qRed(p));
                out[1] = quint16(qGreen(p));
                out[2] = quint16(qBlue(p));
                out[3] = quint16(qAlpha(p));
            }
        }
        return true;
    }

private:
    QImage m_image;
    int m_row = 0;
};

class WholeImageWriter final : public RowWriter
{
public:
    bool open(QIODevice *device, const QByteArray &format, int width, int height, int bits, bool alpha)
    {
        m_device = device;
        m_format = format;
        m_bits = bits;
        m_image = QImage(width, height,
                         bits == 16 ? (alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
                                    : (alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32));
        if (m_image.isNull()) {
            reason = QStringLiteral("out of memory for a %1 x %2 image").arg(width).arg(height);
            return false;
        }
        return true;
    }

    bool writeRow(const quint16 *row) override
    {
        uchar *line = m_image.scanLine(m_row++);
        for (int x = 0; x < m_image.width(); ++x) {
            const quint16 *p = row + kChannels * qint64(x);
            if (m_bits == 16)
                reinterpret_cast<QRgba64 *>(line)[x] = QRgba64::fromRgba64(p[0], p[1], p[2], p[3]);
            else
                reinterpret_cast<QRgb *>(line)[x] = qRgba(p[0], p[1], p[2], p[3]);
        }
        return true;
    }

    bool finish() override
    {
        QImageWriter writer(m_device, m_format);
        if (m_format == "jpeg")
            writer.setQuality(95);
        if (writer.write(m_image))
            return true;
        reason = writer.errorString();
        return false;
    }

private:
    QIODevice *m_device = nullptr;
    QByteArray m_format;
    int m_bits = 8;
    QImage m_image;
    int m_row = 0;
};

// --- The transform -----------------------------------------------------------

// Applies lut to `pixels` pixels of in (codes up to inMax) into out (codes up
// to outMax). Alpha is carried over to the output depth.
void transformPixels(const Read_LUTFile &lut, const quint16 *in, quint16 *out, qint64 pixels, int inMax, int outMax)
{
    const double toUnit = 1.0 / inMax;
    for (qint64 i = 0; i < pixels; ++i) {
        const quint16 *p = in + kChannels * i;
        quint16 *q = out + kChannels * i;
        double rgb[3] = {p[0] * toUnit, p[1] * toUnit, p[2] * toUnit};
        LutCalc::evaluate(&lut, rgb);
        for (int c = 0; c < 3; ++c)
            q[c] = quint16(lutCode(rgb[c], outMax));
        q[3] = inMax == outMax ? p[3] : quint16((p[3] * outMax + inMax / 2) / inMax);
    }
}

// Runs transformPixels over the rows of a band, the rows shared out among
// the threads in contiguous runs.
void transformBand(const Read_LUTFile &lut, const quint16 *in, quint16 *out, int rows, int width, int inMax,
                   int outMax, int threads)
{
    const int used = std::max(1, std::min(threads, rows));
    const qint64 rowCodes = qint64(width) * kChannels;
    const auto run = [&](int part) {
        const int first = int(qint64(rows) * part / used);
        const int last = int(qint64(rows) * (part + 1) / used);
        transformPixels(lut, in + first * rowCodes, out + first * rowCodes, qint64(last - first) * width, inMax,
                        outMax);
    };
    std::vector<std::thread> workers;
    workers.reserve(size_t(used - 1));
    for (int part = 1; part < used; ++part)
        workers.emplace_back(run, part);
    run(0);
    for (std::thread &worker : workers)
        worker.join();
}

// The output types by extension: the toolkit's format name, whether it
// holds 16 bits, and whether it is streamed through libpng.
struct OutputType
{
    const char *extension;
    const char *format;
    bool sixteenBit;
    bool streamed;
};

const OutputType kOutputTypes[] = {
    {"png", "png", true, true},    {"tif", "tiff", true, false}, {"tiff", "tiff", true, false},
    {"jpg", "jpeg", false, false}, {"jpeg", "jpeg", false, false}, {"bmp", "bmp", false, false},
};

const OutputType *outputTypeOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    for (const OutputType &type : kOutputTypes) {
        if (suffix == QLatin1String(type.extension))
            return &type;
    }
    return nullptr;
}

Result failure(Status status, const QString &reason)
{
    Result result;
    result.status = status;
    result.reason = reason;
    return result;
}

std::unique_ptr<RowReader> openInput(const QString &path, QString *reason)
{
    const QByteArray raster = LutImageInput::rasterFormat(path);
    if (raster == "png") {
        auto png = std::make_unique<PngReader>();
        const PngReader::Opened opened = png->open(path);
        if (opened == PngReader::Opened::Yes)
            return png;
        if (opened == PngReader::Opened::No) {
            *reason = png->reason;
            return nullptr;
        }
        // An interlaced PNG has no rows to stream: the toolkit decodes it whole.
    }
    auto whole = std::make_unique<WholeImageReader>();
    if (!whole->open(path)) {
        *reason = whole->reason;
        return nullptr;
    }
    return whole;
}

} // namespace

QStringList outputExtensions()
{
    QStringList extensions;
    for (const OutputType &type : kOutputTypes)
        extensions << QLatin1String(type.extension);
    return extensions;
}

Result apply(const Read_LUTFile &lut, const QString &inPath, const QString &outPath, const Options &options)
{
    const OutputType *type = outputTypeOf(outPath);
    if (!type)
        return failure(Status::OutputFailed, QStringLiteral("the picture's type comes from its extension: %1")
                                                 .arg(outputExtensions().join(QStringLiteral(", "))));
    QString reason;
    const std::unique_ptr<RowReader> reader = openInput(inPath, &reason);
    if (!reader)
        return failure(Status::InputFailed, reason);

    Result result;
    int bits = options.outputBits ? options.outputBits : reader->bits;
    if (bits == 16 && !type->sixteenBit) {
        if (options.outputBits == 16)
            return failure(Status::OutputFailed, QStringLiteral("a %1 file holds 8 bits per channel, not 16")
                                                     .arg(QString::fromLatin1(type->format).toUpper()));
        bits = 8;
        result.notes << QStringLiteral("note: written with 8 bits per channel, all a %1 file holds")
                            .arg(QString::fromLatin1(type->format).toUpper());
    }

    LutTextOutput out(outPath);
    if (!out.open())
        return failure(Status::OutputFailed, QStringLiteral("cannot open for writing: %1").arg(out.errorString()));
    std::unique_ptr<RowWriter> writer;
    bool opened = false;
    if (type->streamed) {
        auto png = std::make_unique<PngWriter>();
        opened = png->open(out.device(), reader->width, reader->height, bits, reader->alpha);
        writer = std::move(png);
    } else {
        auto whole = std::make_unique<WholeImageWriter>();
        opened = whole->open(out.device(), type->format, reader->width, reader->height, bits, reader->alpha);
        writer = std::move(whole);
    }
    if (!opened)
        return failure(Status::OutputFailed, writer->reason);

    const int inMax = (1 << reader->bits) - 1;
    const int outMax = (1 << bits) - 1;
    const int threads = options.threads > 0 ? options.threads : std::max(1, int(std::thread::hardware_concurrency()));
    const int bandRows = int(std::max<qint64>(1, std::min<qint64>(reader->height, kBandPixels / std::max(1, reader->width))));
    const size_t bandCodes = size_t(bandRows) * size_t(reader->width) * kChannels;
    const qint64 rowCodes = qint64(reader->width) * kChannels;
    // Encoding (deflate, for PNG) takes about as long as the rest: a band is
    // written on a thread of its own while the next one is decoded and
    // transformed into the other output buffer.
    std::vector<quint16> in(bandCodes), transformed[2] = {std::vector<quint16>(bandCodes), std::vector<quint16>(bandCodes)};
    std::future<bool> writing;
    const auto written = [&writing]() { return !writing.valid() || writing.get(); };
    int current = 0;
    for (int y = 0; y < reader->height; y += bandRows) {
        const int rows = std::min(bandRows, reader->height - y);
        for (int r = 0; r < rows; ++r) {
            if (!reader->readRow(in.data() + r * rowCodes)) {
                written();
                return failure(Status::InputFailed, reader->reason);
            }
        }
        transformBand(lut, in.data(), transformed[current].data(), rows, reader->width, inMax, outMax, threads);
        if (!written())
            return failure(Status::OutputFailed, writer->reason);
        writing = std::async(std::launch::async, [&writer, rows, rowCodes, band = transformed[current].data()]() {
            for (int r = 0; r < rows; ++r) {
                if (!writer->writeRow(band + r * rowCodes))
                    return false;
            }
            return true;
        });
        current = 1 - current;
    }
    if (!written())
        return failure(Status::OutputFailed, writer->reason);
    if (!writer->finish())
        return failure(Status::OutputFailed, writer->reason);
    if (!out.commit())
        return failure(Status::OutputFailed, QStringLiteral("write failed: %1").arg(out.errorString()));
    return result;
}

} // namespace ImageApply
