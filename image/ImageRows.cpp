#include "image/ImageRows.h"

#include "image/LutDpx.h"
#include "image/LutExr.h"
#include "image/LutImageInput.h"
#include "image/LutJpeg.h"
#include "image/LutPng.h"
#include "image/LutTiff.h"
#include "lut/LutImageCodec.h"

#include <QIODevice>
#include <QImage>
#include <QRgba64>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int kChannels = 4;

class PngRows final : public RowWriter
{
public:
    bool open(QIODevice *device, int width, int height, int bits, bool alpha, int level)
    {
        return m_png.open(device, width, height, bits, alpha, level);
    }
    bool writeRow(const quint16 *codes) override { return m_png.writeRow(codes); }
    bool finish() override { return m_png.finish(); }
    QString errorString() const override { return m_png.errorString(); }

private:
    PngWriter m_png;
};

class TiffRows final : public RowWriter
{
public:
    bool open(QIODevice *device, int width, int height, int bits, bool alpha)
    {
        return m_tiff.open(device, width, height, bits, alpha);
    }
    bool writeRow(const quint16 *codes) override { return m_tiff.writeRow(codes); }
    bool finish() override { return m_tiff.finish(); }
    QString errorString() const override { return m_tiff.errorString(); }

private:
    TiffWriter m_tiff;
};

class JpegRows final : public RowWriter
{
public:
    bool open(QIODevice *device, int width, int height, int quality) { return m_jpeg.open(device, width, height, quality); }
    bool writeRow(const quint16 *codes) override { return m_jpeg.writeRow(codes); }
    bool finish() override { return m_jpeg.finish(); }
    QString errorString() const override { return m_jpeg.errorString(); }

private:
    JpegWriter m_jpeg;
};

class DpxRows final : public RowWriter
{
public:
    bool open(QIODevice *device, int width, int height, int bits, bool alpha, const QByteArray &header, const QString &path)
    {
        return m_dpx.open(device, width, height, bits, alpha, header, path);
    }
    bool writeRow(const quint16 *codes) override { return m_dpx.writeRow(codes); }
    bool finish() override { return m_dpx.finish(); }
    QString errorString() const override { return m_dpx.errorString(); }

private:
    DpxWriter m_dpx;
};

// A 24-bit BMP as every reader takes it: bottom-up, so each row is written
// at its place from the end of the file (the first row written makes the
// file its full length). Alpha is not kept.
class BmpRows final : public RowWriter
{
public:
    bool open(QIODevice *device, int width, int height)
    {
        m_device = device;
        m_width = width;
        m_height = height;
        m_stride = (qint64(width) * 3 + 3) / 4 * 4;
        const qint64 fileSize = kHeaderSize + m_stride * height;
        if (device->isSequential()) {
            m_error = QStringLiteral("write failed: a BMP file is written bottom-up, to a file that can seek, not a stream");
            return false;
        }
        if (fileSize > 0xFFFFFFFFLL) {
            m_error = QStringLiteral("a BMP file holds at most 4 GB: %1 x %2 pixels take more").arg(width).arg(height);
            return false;
        }
        uchar header[kHeaderSize] = {'B', 'M'};
        qToLittleEndian(quint32(fileSize), header + 2);
        qToLittleEndian(quint32(kHeaderSize), header + 10);
        qToLittleEndian(quint32(40), header + 14);
        qToLittleEndian(qint32(width), header + 18);
        qToLittleEndian(qint32(height), header + 22);
        qToLittleEndian(quint16(1), header + 26);
        qToLittleEndian(quint16(24), header + 28);
        qToLittleEndian(quint32(m_stride * height), header + 34);
        // 100 dots per inch, as the toolkit's writer marks its files.
        qToLittleEndian(quint32(3937), header + 38);
        qToLittleEndian(quint32(3937), header + 42);
        m_row.assign(size_t(m_stride), 0);
        return put(0, reinterpret_cast<const char *>(header), kHeaderSize);
    }
    bool writeRow(const quint16 *codes) override
    {
        for (size_t x = 0; x < size_t(m_width); ++x) {
            m_row[3 * x] = uchar(codes[kChannels * x + 2]);
            m_row[3 * x + 1] = uchar(codes[kChannels * x + 1]);
            m_row[3 * x + 2] = uchar(codes[kChannels * x]);
        }
        const qint64 at = kHeaderSize + m_stride * (m_height - 1 - m_y++);
        return put(at, reinterpret_cast<const char *>(m_row.data()), m_stride);
    }
    bool finish() override { return m_error.isEmpty(); }
    QString errorString() const override { return m_error; }

private:
    static constexpr int kHeaderSize = 54;

    bool put(qint64 at, const char *data, qint64 size)
    {
        if (m_device->seek(at) && m_device->write(data, size) == size)
            return true;
        m_error = QStringLiteral("write failed: %1").arg(m_device->errorString());
        return false;
    }

    QIODevice *m_device = nullptr;
    int m_width = 0;
    int m_height = 0;
    int m_y = 0;
    qint64 m_stride = 0;
    std::vector<uchar> m_row;
    QString m_error;
};

class FloatTiffRows final : public FloatRowWriter
{
public:
    bool open(QIODevice *device, int width, int height, int bits, bool alpha, bool associated)
    {
        return m_tiff.openFloat(device, width, height, bits, alpha, associated);
    }
    bool writeRow(const float *values) override { return m_tiff.writeRow(values); }
    bool finish() override { return m_tiff.finish(); }
    QString errorString() const override { return m_tiff.errorString(); }

private:
    TiffWriter m_tiff;
};

class ExrRows final : public FloatRowWriter
{
public:
    bool open(QIODevice *device, int width, int height, const int bits[4], bool alpha, const ExrReader *like)
    {
        return m_exr.open(device, width, height, bits, alpha, like);
    }
    bool writeRow(const float *values) override { return m_exr.writeRow(values); }
    bool finish() override { return m_exr.finish(); }
    QString errorString() const override { return m_exr.errorString(); }

private:
    ExrWriter m_exr;
};

} // namespace

namespace ImageRows {

bool holdsFloats(const QByteArray &type)
{
    return type == "tiff" || type == "exr";
}

std::unique_ptr<FloatRowWriter> openFloat(const QByteArray &type, QIODevice *device, int width, int height,
                                          const int bits[4], bool alpha, bool associatedAlpha, const ExrReader *like,
                                          QString *error)
{
    if (type == "tiff") {
        auto tiff = std::make_unique<FloatTiffRows>();
        const int widest = std::max({bits[0], bits[1], bits[2]});
        if (tiff->open(device, width, height, widest, alpha, associatedAlpha))
            return tiff;
        *error = tiff->errorString();
        return nullptr;
    }
    if (type == "exr") {
        auto exr = std::make_unique<ExrRows>();
        if (exr->open(device, width, height, bits, alpha, like))
            return exr;
        *error = exr->errorString();
        return nullptr;
    }
    *error = QStringLiteral("a %1 file holds no floating-point values").arg(QString::fromLatin1(type).toUpper());
    return nullptr;
}

bool holdsSixteenBits(const QByteArray &type)
{
    return type == "png" || type == "tiff" || type == "dpx";
}

std::unique_ptr<RowWriter> open(const QByteArray &type, QIODevice *device, int width, int height, int bits, bool alpha,
                                int pngLevel, int jpegQuality, QString *error)
{
    std::unique_ptr<RowWriter> writer;
    bool opened = false;
    if (type == "png") {
        auto png = std::make_unique<PngRows>();
        opened = png->open(device, width, height, bits, alpha, pngLevel);
        writer = std::move(png);
    } else if (type == "tiff") {
        auto tiff = std::make_unique<TiffRows>();
        opened = tiff->open(device, width, height, bits, alpha);
        writer = std::move(tiff);
    } else if (type == "jpeg") {
        auto jpeg = std::make_unique<JpegRows>();
        opened = jpeg->open(device, width, height, jpegQuality);
        writer = std::move(jpeg);
    } else if (type == "bmp") {
        auto bmp = std::make_unique<BmpRows>();
        opened = bmp->open(device, width, height);
        writer = std::move(bmp);
    } else {
        *error = QStringLiteral("no writer for %1 images").arg(QLatin1String(type));
        return nullptr;
    }
    if (opened)
        return writer;
    *error = writer->errorString();
    return nullptr;
}

std::unique_ptr<RowWriter> openDpx(QIODevice *device, int width, int height, int bits, bool alpha,
                                   const QByteArray &keptHeader, const QString &path, QString *error)
{
    auto dpx = std::make_unique<DpxRows>();
    if (dpx->open(device, width, height, bits, alpha, keptHeader, path))
        return dpx;
    *error = dpx->errorString();
    return nullptr;
}

bool writeImage(QIODevice *device, const QByteArray &type, const QImage &image, int pngLevel, QString *error)
{
    const bool sixteen = LutImageInput::isSixteenBit(image.format()) && holdsSixteenBits(type);
    const std::unique_ptr<RowWriter> writer =
        open(type, device, image.width(), image.height(), sixteen ? 16 : 8, image.hasAlphaChannel(), pngLevel, LutImageCodec::kJpegQuality, error);
    if (!writer)
        return false;
    std::vector<quint16> codes(size_t(image.width()) * kChannels);
    // The rows of a 16-bit image come as 16-bit codes; 8-bit output takes
    // their high bytes' nearest codes.
    const bool narrow = LutImageInput::isSixteenBit(image.format()) && !sixteen;
    for (int y = 0; y < image.height(); ++y) {
        rowCodes(image, y, codes.data());
        if (narrow) {
            for (quint16 &code : codes)
                code = quint16((code * 255u + 32767u) / 65535u);
        }
        if (!writer->writeRow(codes.data())) {
            *error = writer->errorString();
            return false;
        }
    }
    if (writer->finish())
        return true;
    *error = writer->errorString();
    return false;
}

void rowCodes(const QImage &image, int y, quint16 *codes)
{
    const QImage::Format format = image.format();
    if (format != QImage::Format_RGBA8888 && format != QImage::Format_RGBX8888 && format != QImage::Format_RGBA64
        && format != QImage::Format_RGBX64) {
        const bool sixteen = LutImageInput::isSixteenBit(format);
        const QImage row = image.copy(0, y, image.width(), 1).convertToFormat(
            sixteen ? QImage::Format_RGBA64 : QImage::Format_RGBA8888);
        rowCodes(row, 0, codes);
        return;
    }
    const uchar *line = image.constScanLine(y);
    const bool sixteen = image.depth() == 64;
    for (int x = 0; x < image.width(); ++x) {
        quint16 *out = codes + kChannels * size_t(x);
        if (sixteen) {
            QRgba64 pixel;
            std::memcpy(&pixel, line + 8 * size_t(x), sizeof pixel);
            out[0] = pixel.red();
            out[1] = pixel.green();
            out[2] = pixel.blue();
            out[3] = pixel.alpha();
        } else {
            std::copy_n(line + kChannels * size_t(x), kChannels, out);
        }
    }
}

} // namespace ImageRows
