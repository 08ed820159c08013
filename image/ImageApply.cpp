#include "image/ImageApply.h"

#include "calc/LutCalc.h"
#include "image/LutImageInput.h"
#include "image/ImageRows.h"
#include "image/LutDpx.h"
#include "image/LutExr.h"
#include "image/LutJpeg.h"
#include "image/LutPng.h"
#include "image/LutTiff.h"
#include "lut/LutFileNames.h"
#include "lut/LutImageCodec.h"
#include "lut/LutMemory.h"
#include "lut/LutParallel.h"
#include "lut/LutTextOutput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRgba64>

#include <Imath/half.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace ImageApply {

namespace {

// Every scan line is held as red, green, blue, alpha codes of its depth.
constexpr int kChannels = 4;
// The pixels of one band: enough to keep every thread busy, small enough
// that a band of a very wide picture stays a few MB and the bands held at
// once (the one read, those queued for the writer) are few fresh pages to
// fault in: a band of float values is one 2 MiB page.
constexpr qint64 kBandPixels = 1 << 17;
using LutImageCodec::kMaxDecodedBytes;
using LutImageCodec::kMaxPicturePixels;
using LutImageCodec::kMaxPictureWidth;

// A picture handed out one scan line at a time. open() reads the header
// only; start() decodes what must be decoded before the first row (a
// picture decoded whole), once the size has been checked.
class RowReader
{
public:
    virtual ~RowReader() = default;
    virtual bool start() { return true; }
    // Reads the next scan line into row (width * 4 codes). False when the
    // picture cannot be decoded, with errorString saying why.
    virtual bool readRow(quint16 *row) = 0;
    // The next scan line as width * 4 values: a picture of floating-point
    // values as it holds them, one of codes as codes / largest code.
    virtual bool readValues(float *row)
    {
        m_codes.resize(size_t(width) * kChannels);
        if (!readRow(m_codes.data()))
            return false;
        const float toUnit = 1.0f / float((1 << bits) - 1);
        for (size_t i = 0; i < m_codes.size(); ++i)
            row[i] = float(m_codes[i]) * toUnit;
        return true;
    }
    virtual QString errorString() const { return reason; }

    int width = 0;
    int height = 0;
    int bits = 8;       // 8 or 16 per channel; a DPX also 10 or 12
    bool alpha = false; // the picture has an alpha channel (or a transparent colour)
    QByteArray dpxHeader; // a DPX's header, kept by a DPX written of it
    // A picture of floating-point values (read with readValues), 16 (half)
    // or 32 bits for red, green, blue and alpha.
    bool floating = false;
    int valueBits[4] = {16, 16, 16, 16};
    bool associatedAlpha = false;       // a TIFF's premultiplied alpha
    const ExrReader *exr = nullptr;     // an EXR picture, whose header its output keeps

protected:
    QString reason;

private:
    std::vector<quint16> m_codes;
};

// --- Rows as the file holds them ---------------------------------------------

class PngRowReader final : public RowReader
{
public:
    bool open(const QString &path)
    {
        if (!m_png.open(path))
            return false;
        width = m_png.width();
        height = m_png.height();
        bits = m_png.bits();
        alpha = m_png.hasAlpha();
        return true;
    }
    PngReader &png() { return m_png; }
    bool readRow(quint16 *row) override { return m_png.readRow(row); }
    QString errorString() const override { return m_png.errorString(); }

private:
    PngReader m_png;
};

class JpegRowReader final : public RowReader
{
public:
    bool open(const QString &path)
    {
        if (!m_jpeg.open(path, kMaxDecodedBytes))
            return false;
        width = m_jpeg.width();
        height = m_jpeg.height();
        return true;
    }
    bool readRow(quint16 *row) override { return m_jpeg.readRow(row); }
    QString errorString() const override { return m_jpeg.errorString(); }

private:
    JpegReader m_jpeg;
};

class DpxRowReader final : public RowReader
{
public:
    bool open(const QString &path)
    {
        if (!m_dpx.open(path))
            return false;
        width = m_dpx.width();
        height = m_dpx.height();
        bits = m_dpx.bits();
        alpha = m_dpx.hasAlpha();
        dpxHeader = m_dpx.header();
        return true;
    }
    bool readRow(quint16 *row) override { return m_dpx.readRow(row); }
    QString errorString() const override { return m_dpx.errorString(); }

private:
    DpxReader m_dpx;
};

// --- Pictures of floating-point values ---------------------------------------------

// A TIFF of floating-point samples, or of integer ones in a layout the
// strip reader takes (the rest goes to the toolkit).
class TiffRowReader final : public RowReader
{
public:
    TiffReader::Opened open(const QString &path)
    {
        const TiffReader::Opened opened = m_tiff.open(path);
        width = m_tiff.width();
        height = m_tiff.height();
        alpha = m_tiff.hasAlpha();
        associatedAlpha = m_tiff.associatedAlpha();
        floating = opened == TiffReader::Float;
        if (floating)
            std::fill_n(valueBits, 4, m_tiff.bits());
        else
            bits = m_tiff.bits();
        return opened;
    }
    bool readRow(quint16 *row) override { return !floating && m_tiff.readRow(row); }
    bool readValues(float *row) override { return floating ? m_tiff.readRow(row) : RowReader::readValues(row); }
    QString errorString() const override { return m_tiff.errorString(); }

private:
    TiffReader m_tiff;
};

class ExrRowReader final : public RowReader
{
public:
    bool open(const QString &path)
    {
        if (!m_exr.open(path))
            return false;
        width = m_exr.width();
        height = m_exr.height();
        alpha = m_exr.hasAlpha();
        associatedAlpha = alpha; // an EXR's colours are premultiplied
        floating = true;
        for (int c = 0; c < 4; ++c)
            valueBits[c] = m_exr.bits(c);
        exr = &m_exr;
        return true;
    }
    bool readRow(quint16 *) override { return false; }
    bool readValues(float *row) override { return m_exr.readRow(row); }
    QString errorString() const override { return m_exr.errorString(); }

private:
    ExrReader m_exr;
};

// --- Pictures decoded whole ------------------------------------------------------

// A picture decoded whole (an interlaced PNG by libpng, BMP and TIFF by the
// toolkit) and handed out a row at a time in the codes of its depth. The
// decoded image is all it holds: rows are converted one at a time.
class WholeImageReader final : public RowReader
{
public:
    // The toolkit's raster: the header now, the pixels in start().
    bool open(const QString &path)
    {
        m_raster = std::make_unique<LutImageInput::Raster>();
        if (!m_raster->open(path, LutImageInput::Pictures, &reason))
            return false;
        const QSize size = m_raster->size(&reason);
        if (!size.isValid())
            return false;
        if (size.isEmpty()) {
            reason = QStringLiteral("cannot read the image header: the picture has no pixels");
            return false;
        }
        width = size.width();
        height = size.height();
        // What the decoded image takes: the pixel format the header
        // announces, or 8 bytes a pixel (the most) when it announces none.
        const QImage::Format format = m_raster->imageFormat();
        const int depth = format == QImage::Format_Invalid ? 64 : QImage::toPixelFormat(format).bitsPerPixel();
        m_bytes = qint64(width) * height * std::max(1, depth / 8);
        return true;
    }

    // An interlaced PNG, whose rows arrive only all at once.
    bool open(std::unique_ptr<PngRowReader> png, PngReader *reader)
    {
        m_png = std::move(png);
        m_pngReader = reader;
        width = m_png->width;
        height = m_png->height;
        m_bytes = qint64(width) * height * (m_png->bits == 16 ? 8 : 4);
        return true;
    }

    bool start() override
    {
        if (m_bytes > kMaxDecodedBytes) {
            reason = QStringLiteral("%1 x %2 pixels take %3 MB decoded whole, above the limit of %4 MB; a PNG that is "
                                    "not interlaced and a JPEG are read row by row")
                         .arg(width)
                         .arg(height)
                         .arg(m_bytes >> 20)
                         .arg(kMaxDecodedBytes >> 20);
            return false;
        }
        if (m_pngReader) {
            if (!m_pngReader->readImage(&m_image)) {
                reason = m_pngReader->errorString();
                return false;
            }
        } else {
            m_image = m_raster->read(&reason);
            if (m_image.isNull())
                return false;
            if (m_image.size() != QSize(width, height)) {
                reason = QStringLiteral("cannot load the image: it holds %1 x %2 pixels, its header %3 x %4")
                             .arg(m_image.width())
                             .arg(m_image.height())
                             .arg(width)
                             .arg(height);
                return false;
            }
        }
        bits = LutImageInput::isSixteenBit(m_image.format()) ? 16 : 8;
        alpha = m_image.hasAlphaChannel();
        return true;
    }

    bool readRow(quint16 *row) override
    {
        ImageRows::rowCodes(m_image, m_row++, row);
        return true;
    }

private:
    std::unique_ptr<LutImageInput::Raster> m_raster;
    std::unique_ptr<PngRowReader> m_png;
    PngReader *m_pngReader = nullptr;
    qint64 m_bytes = 0;
    QImage m_image;
    int m_row = 0;
};

// --- The transform -----------------------------------------------------------

Result failure(Status status, const QString &reason)
{
    Result result;
    result.status = status;
    result.reason = reason;
    return result;
}

// Applies lut to `pixels` pixels of in (codes up to inMax) into out (codes up
// to outMax), through tables when they are prepared for the codes 0 ..
// inMax. Alpha is carried over to the output depth.
void transformPixels(const Read_LUTFile &lut, const LutCalc::ChannelTables &tables, const quint16 *in, quint16 *out,
                     qint64 pixels, int inMax, int outMax)
{
    const double toUnit = 1.0 / inMax;
    const bool tabled = tables.isPrepared();
    for (qint64 i = 0; i < pixels; ++i) {
        const quint16 *p = in + kChannels * i;
        quint16 *q = out + kChannels * i;
        double rgb[3] = {p[0] * toUnit, p[1] * toUnit, p[2] * toUnit};
        if (tabled)
            tables.evaluate(p, rgb);
        else
            LutCalc::evaluate(&lut, rgb);
        for (int c = 0; c < 3; ++c)
            q[c] = quint16(lutCode(rgb[c], outMax));
        q[3] = inMax == outMax ? p[3] : quint16((p[3] * outMax + inMax / 2) / inMax);
    }
}

// The bits of the half that holds v exactly, -1 when no half does (v is
// then not a half channel's value).
int exactHalf(float v)
{
    quint32 bits;
    std::memcpy(&bits, &v, sizeof bits);
    const quint32 sign = (bits >> 16) & 0x8000u;
    const quint32 magnitude = bits & 0x7fffffffu;
    if (magnitude >= 0x38800000u && magnitude < 0x47800000u) // the normal halves
        return (magnitude & 0x1fffu) ? -1 : int(sign | ((magnitude - 0x38000000u) >> 13));
    if (magnitude == 0)
        return int(sign);
    // Subnormal halves, infinities and NaNs go the long way.
    return -1;
}

// The value of every half, by its bits.
double halfValue(int bits)
{
    Imath::half h;
    h.setBits(quint16(bits));
    return double(float(h));
}

// Applies lut to `pixels` pixels of values: in double precision, nothing
// clamped (what the transform gives beyond 0..1 is kept), through tables
// when they are prepared for the 65536 halves and the colour's values are
// halves. Alpha is copied.
void transformValues(const Read_LUTFile &lut, const LutCalc::ChannelTables &tables, const float *in, float *out,
                     qint64 pixels)
{
    const bool tabled = tables.isPrepared();
    for (qint64 i = 0; i < pixels; ++i) {
        const float *p = in + kChannels * i;
        float *q = out + kChannels * i;
        double rgb[3] = {p[0], p[1], p[2]};
        const int r = tabled ? exactHalf(p[0]) : -1, g = tabled ? exactHalf(p[1]) : -1, b = tabled ? exactHalf(p[2]) : -1;
        if (r >= 0 && g >= 0 && b >= 0) {
            const quint16 index[3] = {quint16(r), quint16(g), quint16(b)};
            tables.evaluate(index, rgb);
        } else {
            LutCalc::evaluate(&lut, rgb);
        }
        for (int c = 0; c < 3; ++c)
            q[c] = float(rgb[c]);
        q[3] = p[3];
    }
}

// Runs transform(first, count) over the pixels of a band, shared out among
// the threads in contiguous runs.
template <typename Transform>
void transformBand(qint64 pixels, int threads, const Transform &transform)
{
    const int used = int(std::max<qint64>(1, std::min<qint64>(threads, pixels)));
    LutParallel::run(used, [&](int part) {
        const qint64 first = pixels * part / used;
        const qint64 last = pixels * (part + 1) / used;
        transform(first, last - first);
    });
}

// The picture a band at a time: readRow(row) fills each row of the band,
// transform(in, out, pixels) turns it into the output's samples and
// writeRow(row) hands a row of them to the writer. Encoding (deflate, for
// PNG and EXR) takes about as long as the rest, so bands are written on a
// thread of their own while the next ones are decoded and transformed.
// Up to kQueuedBands transformed bands wait for the writer: one band slow
// to write (a compressed chunk ending in it) does not hold up the reading,
// nor one slow to read (a chunk decoded) the writing. Done, or the status
// and reason of what failed.
template <typename In, typename Out, typename ReadRow, typename Transform, typename WriteRow>
Result runBands(int width, int height, const ReadRow &readRow, const Transform &transform, const WriteRow &writeRow,
                const std::function<QString()> &readError, const std::function<QString()> &writeError)
{
    constexpr int kQueuedBands = 3;
    const int bandRows = int(std::max<qint64>(1, std::min<qint64>(height, kBandPixels / std::max(1, width))));
    const size_t bandValues = size_t(bandRows) * size_t(width) * kChannels;
    const qint64 rowValues = qint64(width) * kChannels;
    // Large blocks: in huge pages, one fault for 2 MiB.
    std::vector<In, LutMemory::Allocator<In>> in(bandValues);
    std::vector<Out, LutMemory::Allocator<Out>> bands[kQueuedBands];
    for (auto &band : bands)
        band.resize(bandValues);
    // The bands transformed and not yet written, in turn from the writer's
    // next one; closed once no more will come.
    struct Queue
    {
        std::mutex mutex;
        std::condition_variable changed;
        int queued = 0;
        int rows[kQueuedBands] = {};
        bool closed = false;
        bool writeFailed = false;
    } queue;
    LutParallel::Background writing([&]() {
        // A write that throws (out of memory) still tells the reader, who
        // may be waiting for a band to be free.
        const auto fail = [&queue]() {
            const std::lock_guard<std::mutex> lock(queue.mutex);
            queue.writeFailed = true;
            queue.changed.notify_all();
        };
        try {
            for (int next = 0;; next = (next + 1) % kQueuedBands) {
                int rows = 0;
                {
                    std::unique_lock<std::mutex> lock(queue.mutex);
                    queue.changed.wait(lock, [&queue]() { return queue.queued > 0 || queue.closed; });
                    if (queue.queued == 0)
                        return true;
                    rows = queue.rows[next];
                }
                for (int r = 0; r < rows; ++r) {
                    if (!writeRow(bands[next].data() + r * rowValues)) {
                        fail();
                        return false;
                    }
                }
                const std::lock_guard<std::mutex> lock(queue.mutex);
                --queue.queued;
                queue.changed.notify_all();
            }
        } catch (...) {
            fail();
            throw;
        }
    });
    // On every way out, the writer is told no more bands come (and writes
    // those queued) before it is waited for.
    const auto close = [&queue]() {
        const std::lock_guard<std::mutex> lock(queue.mutex);
        queue.closed = true;
        queue.changed.notify_all();
    };
    struct Closing
    {
        const decltype(close) &onExit;
        ~Closing() { onExit(); }
    } closing{close};

    int slot = 0;
    for (int y = 0; y < height; y += bandRows) {
        const int rows = std::min(bandRows, height - y);
        for (int r = 0; r < rows; ++r) {
            if (!readRow(in.data() + r * rowValues)) {
                close();
                writing.wait();
                return failure(Status::InputFailed, readError());
            }
        }
        {
            std::unique_lock<std::mutex> lock(queue.mutex);
            queue.changed.wait(lock, [&queue]() { return queue.queued < kQueuedBands || queue.writeFailed; });
            if (queue.writeFailed)
                break;
        }
        transform(in.data(), bands[slot].data(), qint64(rows) * width);
        {
            const std::lock_guard<std::mutex> lock(queue.mutex);
            queue.rows[slot] = rows;
            ++queue.queued;
            queue.changed.notify_all();
        }
        slot = (slot + 1) % kQueuedBands;
    }
    close();
    if (!writing.wait())
        return failure(Status::OutputFailed, writeError());
    return Result();
}

// The output types by extension and the image type that writes them.
struct OutputType
{
    const char *extension;
    const char *format;
};

const OutputType kOutputTypes[] = {
    {"png", "png"}, {"tif", "tiff"}, {"tiff", "tiff"}, {"exr", "exr"}, {"jpg", "jpeg"}, {"jpeg", "jpeg"}, {"bmp", "bmp"},
    {"dpx", "dpx"},
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

// The reader of the picture at path, its header read.
std::unique_ptr<RowReader> openInput(const QString &path, QString *reason)
{
    {
        QFile file;
        const QByteArray magic = LutFileNames::openForReading(file, path, reason) ? file.read(4) : QByteArray();
        if (ExrReader::isExr(magic)) {
            auto exr = std::make_unique<ExrRowReader>();
            if (!exr->open(path)) {
                *reason = exr->errorString();
                return nullptr;
            }
            return exr;
        }
        if (magic == "SDPX" || magic == "XPDS") {
            auto dpx = std::make_unique<DpxRowReader>();
            if (!dpx->open(path)) {
                *reason = dpx->errorString();
                return nullptr;
            }
            return dpx;
        }
    }
    const QByteArray type = LutImageCodec::rasterFormat(path);
    if (type == "tiff") {
        // Strips through libtiff; the layouts it leaves through the toolkit.
        auto tiff = std::make_unique<TiffRowReader>();
        const TiffReader::Opened opened = tiff->open(path);
        if (opened == TiffReader::Float || opened == TiffReader::Integer)
            return tiff;
        if (opened == TiffReader::Failed) {
            *reason = tiff->errorString();
            return nullptr;
        }
    }
    if (type == "png") {
        auto png = std::make_unique<PngRowReader>();
        if (!png->open(path)) {
            *reason = png->errorString();
            return nullptr;
        }
        if (!png->png().interlaced())
            return png;
        // An interlaced PNG has no rows to stream: it is decoded whole.
        auto whole = std::make_unique<WholeImageReader>();
        PngReader *reader = &png->png();
        whole->open(std::move(png), reader);
        return whole;
    }
    if (type == "jpeg") {
        auto jpeg = std::make_unique<JpegRowReader>();
        if (!jpeg->open(path)) {
            *reason = jpeg->errorString();
            return nullptr;
        }
        return jpeg;
    }
    auto whole = std::make_unique<WholeImageReader>();
    if (!whole->open(path)) {
        *reason = whole->errorString();
        return nullptr;
    }
    return whole;
}

// Why a picture of the reader's size is not taken ("" when it is): the
// width a row may have, the pixels a picture may have, and the evaluation
// steps of a transform that supplies its own evaluation.
QString sizeProblem(const RowReader &reader, const Read_LUTFile &lut)
{
    const qint64 pixels = qint64(reader.width) * reader.height;
    const QString size = QStringLiteral("%1 x %2 pixels").arg(reader.width).arg(reader.height);
    if (reader.width > kMaxPictureWidth)
        return QStringLiteral("%1: wider than %2 pixels, the widest row --apply takes").arg(size).arg(kMaxPictureWidth);
    if (pixels > kMaxPicturePixels)
        return QStringLiteral("%1: more than %2 pixels, the most --apply takes").arg(size).arg(kMaxPicturePixels);
    const QString work = LutCalc::evaluationLimit(&lut, pixels);
    return work.isEmpty() ? QString() : QStringLiteral("%1: %2").arg(size, work);
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
    // Refused before a pixel is decoded or a byte written.
    reason = sizeProblem(*reader, lut);
    if (!reason.isEmpty())
        return failure(Status::InputFailed, reason);
    if (!reader->start())
        return failure(Status::InputFailed, reader->errorString());

    Result result;
    const QByteArray format(type->format);
    const QString typeName = QString::fromLatin1(type->format).toUpper();
    // Values stay values in an EXR, and in a TIFF when the picture holds
    // values and --scale asks for no codes.
    const bool valuesOut = format == "exr" || (format == "tiff" && reader->floating && !options.outputBits);
    if (format == "exr" && options.outputBits)
        return failure(Status::OutputFailed, QStringLiteral("an EXR file holds half or float values and takes no --scale"));
    int bits = options.outputBits ? options.outputBits
                                  : reader->floating ? (ImageRows::holdsSixteenBits(format) ? 16 : 8) : reader->bits;
    if (format == "dpx") {
        // 10-bit codes, or 16 for a deeper picture.
        bits = bits <= 10 ? 10 : 16;
    } else if (options.outputBits == 10) {
        return failure(Status::OutputFailed, QStringLiteral("a %1 file holds 8 or 16 bits per channel, not 10").arg(typeName));
    } else if (!valuesOut && bits > 8 && bits < 16 && ImageRows::holdsSixteenBits(format)) {
        bits = 16; // a DPX's 10 or 12 bits
    }
    if (!valuesOut && bits > 8 && !ImageRows::holdsSixteenBits(format)) {
        if (options.outputBits == 16)
            return failure(Status::OutputFailed, QStringLiteral("a %1 file holds 8 bits per channel, not 16").arg(typeName));
        bits = 8;
        result.notes << QStringLiteral("note: written with 8 bits per channel, all a %1 file holds").arg(typeName);
    } else if (!valuesOut && reader->floating && !options.outputBits) {
        result.notes << QStringLiteral("note: written with %1-bit codes, all a %2 file holds: values beyond 0..1 "
                                       "take the ends")
                            .arg(bits)
                            .arg(typeName);
    }

    LutTextOutput out(outPath);
    if (!out.open())
        return failure(Status::OutputFailed, QStringLiteral("cannot open for writing: %1").arg(out.errorString()));
    const int threads = options.threads > 0 ? options.threads : LutParallel::threads();
    const int width = reader->width, height = reader->height;
    const auto readError = [&reader]() { return reader->errorString(); };
    const auto readValues = [&reader](float *row) { return reader->readValues(row); };
    // A picture of more pixels than its channels have values (codes, or
    // the 65536 halves) works each value out once: LutCalc::ChannelTables.
    LutCalc::ChannelTables tables;
    const qint64 pixels = qint64(width) * height;
    if (!reader->floating && !valuesOut && pixels > (qint64(1) << reader->bits)) {
        const double toUnit = 1.0 / ((1 << reader->bits) - 1);
        tables.prepare(&lut, 1 << reader->bits, [toUnit](int code) { return code * toUnit; });
    } else if (reader->floating && reader->valueBits[0] == 16 && reader->valueBits[1] == 16 && reader->valueBits[2] == 16
               && pixels > 65536) {
        tables.prepare(&lut, 65536, halfValue);
    }
    Result written;
    if (valuesOut) {
        // A picture of codes becomes half values.
        const int half[4] = {16, 16, 16, 16};
        const std::unique_ptr<FloatRowWriter> writer =
            ImageRows::openFloat(format, out.device(), width, height, reader->floating ? reader->valueBits : half,
                                 reader->alpha, reader->associatedAlpha, reader->exr, &reason);
        if (!writer)
            return failure(Status::OutputFailed, reason);
        written = runBands<float, float>(
            width, height, readValues,
            [&](const float *in, float *values, qint64 pixels) {
                transformBand(pixels, threads, [&](qint64 first, qint64 count) {
                    transformValues(lut, tables, in + kChannels * first, values + kChannels * first, count);
                });
            },
            [&writer](const float *row) { return writer->writeRow(row); }, readError,
            [&writer]() { return writer->errorString(); });
        if (written.status == Status::Done && !writer->finish())
            return failure(Status::OutputFailed, writer->errorString());
    } else {
        // The fastest deflate for a PNG: on a large photograph it takes a
        // fifth less time than level 3 for a file 1% larger.
        const std::unique_ptr<RowWriter> writer =
            format == "dpx" ? ImageRows::openDpx(out.device(), width, height, bits, reader->alpha, reader->dpxHeader, outPath, &reason)
                            : ImageRows::open(format, out.device(), width, height, bits, reader->alpha, 1, options.jpegQuality,
                                              &reason);
        if (!writer)
            return failure(Status::OutputFailed, reason);
        const int outMax = (1 << bits) - 1;
        const auto writeRow = [&writer](const quint16 *row) { return writer->writeRow(row); };
        const auto writeError = [&writer]() { return writer->errorString(); };
        if (reader->floating) {
            written = runBands<float, quint16>(
                width, height, readValues,
                [&](const float *in, quint16 *codes, qint64 pixels) {
                    transformBand(pixels, threads, [&](qint64 first, qint64 count) {
                        std::vector<float> values(size_t(count) * kChannels);
                        transformValues(lut, tables, in + kChannels * first, values.data(), count);
                        for (size_t i = 0; i < values.size(); ++i)
                            codes[size_t(kChannels * first) + i] = quint16(lutCode(values[i], outMax));
                    });
                },
                writeRow, readError, writeError);
        } else {
            const int inMax = (1 << reader->bits) - 1;
            written = runBands<quint16, quint16>(
                width, height, [&reader](quint16 *row) { return reader->readRow(row); },
                [&](const quint16 *in, quint16 *codes, qint64 pixels) {
                    transformBand(pixels, threads, [&](qint64 first, qint64 count) {
                        transformPixels(lut, tables, in + kChannels * first, codes + kChannels * first, count, inMax, outMax);
                    });
                },
                writeRow, readError, writeError);
        }
        if (written.status == Status::Done && !writer->finish())
            return failure(Status::OutputFailed, writer->errorString());
    }
    if (written.status != Status::Done)
        return written;
    if (!out.commit())
        return failure(Status::OutputFailed, QStringLiteral("write failed: %1").arg(out.errorString()));
    return result;
}

} // namespace ImageApply
