#include "image/ImageApply.h"

#include "calc/LutCalc.h"
#include "image/LutImageInput.h"
#include "image/ImageRows.h"
#include "image/LutDpx.h"
#include "image/LutJpeg.h"
#include "image/LutPng.h"
#include "lut/LutImageCodec.h"
#include "lut/LutParallel.h"
#include "lut/LutTextOutput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QFileInfo>
#include <QImage>
#include <QRgba64>

#include <algorithm>
#include <memory>
#include <vector>

namespace ImageApply {

namespace {

// Every scan line is held as red, green, blue, alpha codes of its depth.
constexpr int kChannels = 4;
// The pixels of one band: enough to keep every thread busy, small enough
// that a band of a very wide picture stays a few MB.
constexpr qint64 kBandPixels = 1 << 18;
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
    virtual QString errorString() const { return reason; }

    int width = 0;
    int height = 0;
    int bits = 8;       // 8 or 16 per channel; a DPX also 10 or 12
    bool alpha = false; // the picture has an alpha channel (or a transparent colour)
    QByteArray dpxHeader; // a DPX's header, kept by a DPX written of it

protected:
    QString reason;
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

// Runs transformPixels over the pixels of a band, shared out among the
// threads in contiguous runs.
void transformBand(const Read_LUTFile &lut, const quint16 *in, quint16 *out, qint64 pixels, int inMax, int outMax,
                   int threads)
{
    const int used = int(std::max<qint64>(1, std::min<qint64>(threads, pixels)));
    LutParallel::run(used, [&](int part) {
        const qint64 first = pixels * part / used;
        const qint64 last = pixels * (part + 1) / used;
        transformPixels(lut, in + kChannels * first, out + kChannels * first, last - first, inMax, outMax);
    });
}

// The output types by extension and the image type that writes them.
struct OutputType
{
    const char *extension;
    const char *format;
};

const OutputType kOutputTypes[] = {
    {"png", "png"}, {"tif", "tiff"}, {"tiff", "tiff"}, {"jpg", "jpeg"}, {"jpeg", "jpeg"}, {"bmp", "bmp"}, {"dpx", "dpx"},
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

// Whether the file at path starts as a DPX does (in either byte order).
bool isDpx(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray magic = file.read(4);
    return magic == "SDPX" || magic == "XPDS";
}

// The reader of the picture at path, its header read.
std::unique_ptr<RowReader> openInput(const QString &path, QString *reason)
{
    if (isDpx(path)) {
        auto dpx = std::make_unique<DpxRowReader>();
        if (!dpx->open(path)) {
            *reason = dpx->errorString();
            return nullptr;
        }
        return dpx;
    }
    const QByteArray type = LutImageCodec::rasterFormat(path);
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
    int bits = options.outputBits ? options.outputBits : reader->bits;
    const QString typeName = QString::fromLatin1(type->format).toUpper();
    if (format == "dpx") {
        // 10-bit codes, or 16 for a deeper picture.
        bits = bits <= 10 ? 10 : 16;
    } else if (options.outputBits == 10) {
        return failure(Status::OutputFailed, QStringLiteral("a %1 file holds 8 or 16 bits per channel, not 10").arg(typeName));
    } else if (bits > 8 && ImageRows::holdsSixteenBits(format)) {
        bits = 16;
    } else if (bits > 8) {
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
    // The fastest deflate for a PNG: on a large photograph it takes a fifth
    // less time than level 3 for a file 1% larger.
    const std::unique_ptr<RowWriter> writer =
        format == "dpx" ? ImageRows::openDpx(out.device(), reader->width, reader->height, bits, reader->alpha,
                                             reader->dpxHeader, outPath, &reason)
                        : ImageRows::open(format, out.device(), reader->width, reader->height, bits, reader->alpha, 1,
                                          options.jpegQuality, &reason);
    if (!writer)
        return failure(Status::OutputFailed, reason);

    const int inMax = (1 << reader->bits) - 1;
    const int outMax = (1 << bits) - 1;
    const int threads = options.threads > 0 ? options.threads : LutParallel::threads();
    const int bandRows = int(std::max<qint64>(1, std::min<qint64>(reader->height, kBandPixels / std::max(1, reader->width))));
    const size_t bandCodes = size_t(bandRows) * size_t(reader->width) * kChannels;
    const qint64 rowCodes = qint64(reader->width) * kChannels;
    // Encoding (deflate, for PNG) takes about as long as the rest: a band is
    // written on a thread of its own while the next one is decoded and
    // transformed into the other output buffer.
    std::vector<quint16> in(bandCodes), transformed[2] = {std::vector<quint16>(bandCodes), std::vector<quint16>(bandCodes)};
    LutParallel::Background writing;
    const auto written = [&writing]() { return writing.wait(); };
    int current = 0;
    for (int y = 0; y < reader->height; y += bandRows) {
        const int rows = std::min(bandRows, reader->height - y);
        for (int r = 0; r < rows; ++r) {
            if (!reader->readRow(in.data() + r * rowCodes)) {
                written();
                return failure(Status::InputFailed, reader->errorString());
            }
        }
        transformBand(lut, in.data(), transformed[current].data(), qint64(rows) * reader->width, inMax, outMax, threads);
        if (!written())
            return failure(Status::OutputFailed, writer->errorString());
        writing = LutParallel::Background([&writer, rows, rowCodes, band = transformed[current].data()]() {
            for (int r = 0; r < rows; ++r) {
                if (!writer->writeRow(band + r * rowCodes))
                    return false;
            }
            return true;
        });
        current = 1 - current;
    }
    if (!written())
        return failure(Status::OutputFailed, writer->errorString());
    if (!writer->finish())
        return failure(Status::OutputFailed, writer->errorString());
    if (!out.commit())
        return failure(Status::OutputFailed, QStringLiteral("write failed: %1").arg(out.errorString()));
    return result;
}

} // namespace ImageApply
