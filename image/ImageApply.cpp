#include "image/ImageApply.h"

#include "calc/LutCalc.h"
#include "image/LutImageInput.h"
#include "image/LutPng.h"
#include "lut/LutImageCodec.h"
#include "lut/LutParallel.h"
#include "lut/LutTextOutput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
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
// A picture the toolkit decodes whole may take at most this much memory
// (at 8 bytes a pixel for 16 bits); a header claiming more is refused
// before any pixel is decoded.
constexpr qint64 kMaxDecodedBytes = qint64(1) << 30;

// A picture handed out one scan line at a time.
class RowReader
{
public:
    virtual ~RowReader() = default;
    // Reads the next scan line into row (width * 4 codes). False when the
    // picture cannot be decoded, with errorString saying why.
    virtual bool readRow(quint16 *row) = 0;
    virtual QString errorString() const { return reason; }

    int width = 0;
    int height = 0;
    int bits = 8;       // 8 or 16 per channel
    bool alpha = false; // the picture has an alpha channel (or a transparent colour)

protected:
    QString reason;
};

class RowWriter
{
public:
    virtual ~RowWriter() = default;
    virtual bool writeRow(const quint16 *row) = 0;
    // Ends the picture; everything is in the device afterwards.
    virtual bool finish() = 0;
    virtual QString errorString() const { return reason; }

protected:
    QString reason;
};

// --- PNG, row by row -----------------------------------------------------------

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

class PngRowWriter final : public RowWriter
{
public:
    bool open(QIODevice *device, int width, int height, int bits, bool alpha)
    {
        // The fastest deflate: on a large photograph it takes a fifth less
        // time than level 3 for a file 1% larger.
        return m_png.open(device, width, height, bits, alpha, 1);
    }
    bool writeRow(const quint16 *row) override { return m_png.writeRow(row); }
    bool finish() override { return m_png.finish(); }
    QString errorString() const override { return m_png.errorString(); }

private:
    PngWriter m_png;
};

// --- Pictures decoded whole ------------------------------------------------------

// A picture decoded whole (interlaced PNG by libpng, the other types by
// the toolkit), held as RGBA8888 or RGBA64 and handed out a row at a time.
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
        if (!fitsInMemory(size.width(), size.height()))
            return false;
        QImage image = reader.read();
        if (image.isNull()) {
            reason = QStringLiteral("cannot load the image: %1").arg(reader.errorString());
            return false;
        }
        const bool sixteen = LutImageInput::isSixteenBit(image.format());
        alpha = image.hasAlphaChannel();
        return take(std::move(image).convertToFormat(sixteen ? QImage::Format_RGBA64 : QImage::Format_RGBA8888));
    }

    bool open(PngReader &png)
    {
        alpha = png.hasAlpha();
        if (!fitsInMemory(png.width(), png.height()))
            return false;
        QImage image;
        if (!png.readImage(&image)) {
            reason = png.errorString();
            return false;
        }
        return take(std::move(image));
    }

    bool readRow(quint16 *row) override
    {
        imageRowCodes(m_image, m_row++, row);
        return true;
    }

private:
    bool fitsInMemory(int w, int h)
    {
        if (qint64(w) * h * 8 <= kMaxDecodedBytes)
            return true;
        reason = QStringLiteral("%1 x %2 pixels is too large to decode whole (at most %3 MB); a PNG that is not "
                                "interlaced is read row by row at any size")
                     .arg(w)
                     .arg(h)
                     .arg(kMaxDecodedBytes >> 20);
        return false;
    }

    bool take(QImage image)
    {
        if (image.isNull()) {
            reason = QStringLiteral("out of memory converting the image");
            return false;
        }
        m_image = std::move(image);
        bits = m_image.format() == QImage::Format_RGBA64 ? 16 : 8;
        width = m_image.width();
        height = m_image.height();
        return true;
    }

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
    if (LutImageCodec::rasterFormat(path) == "png") {
        auto png = std::make_unique<PngRowReader>();
        if (!png->open(path)) {
            *reason = png->errorString();
            return nullptr;
        }
        if (!png->png().interlaced())
            return png;
        // An interlaced PNG has no rows to stream: it is decoded whole.
        auto whole = std::make_unique<WholeImageReader>();
        if (!whole->open(png->png())) {
            *reason = whole->errorString();
            return nullptr;
        }
        return whole;
    }
    auto whole = std::make_unique<WholeImageReader>();
    if (!whole->open(path)) {
        *reason = whole->errorString();
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
        auto png = std::make_unique<PngRowWriter>();
        opened = png->open(out.device(), reader->width, reader->height, bits, reader->alpha);
        writer = std::move(png);
    } else {
        auto whole = std::make_unique<WholeImageWriter>();
        opened = whole->open(out.device(), type->format, reader->width, reader->height, bits, reader->alpha);
        writer = std::move(whole);
    }
    if (!opened)
        return failure(Status::OutputFailed, writer->errorString());

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
