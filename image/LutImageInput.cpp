#include "image/LutImageInput.h"

#include "image/LutTiff.h"
#include "lut/LutFileNames.h"
#include "lut/LutImageCodec.h"

#include <QtEndian>

#include <algorithm>
#include <vector>

#include <unistd.h>

namespace LutImageInput {

namespace {

constexpr qint64 kMaxBmpPixels = qint64(16384) * 16384;

// Reads size bytes at offset without moving the file's position.
bool readAt(int fd, qint64 offset, uchar *data, qint64 size)
{
    return ::pread(fd, data, size_t(size), off_t(offset)) == ssize_t(size);
}

// Walks the run-length codes of an RLE8 or RLE4 BMP from offset, without
// decoding them: whether they reach the end-of-bitmap code or the last row
// before the file ends. The file is read a block at a time.
bool rleComplete(int fd, qint64 offset, qint64 fileSize, qint64 rows, bool rle4)
{
    constexpr qint64 kBlock = 1 << 16;
    std::vector<uchar> block(static_cast<size_t>(kBlock));
    qint64 blockStart = -kBlock;
    // The byte at position p of the file; -1 past its end.
    const auto byteAt = [&](qint64 p) -> int {
        if (p >= fileSize)
            return -1;
        if (p < blockStart || p >= blockStart + kBlock) {
            blockStart = p;
            if (!readAt(fd, p, block.data(), qMin(kBlock, fileSize - p)))
                return -1;
        }
        return block[size_t(p - blockStart)];
    };
    qint64 row = 0;
    for (qint64 p = offset;;) {
        const int count = byteAt(p), code = byteAt(p + 1);
        if (count < 0 || code < 0)
            return false;
        p += 2;
        if (count > 0)
            continue; // a run of count pixels
        if (code == 0) {
            if (++row >= rows)
                return true;
        } else if (code == 1) {
            return true;
        } else if (code == 2) {
            const int dy = byteAt(p + 1);
            if (dy < 0)
                return false;
            row += dy;
            p += 2;
        } else {
            // code pixels given one by one, padded to a whole word
            const qint64 bytes = rle4 ? (code + 1) / 2 : code;
            p += (bytes + 1) / 2 * 2;
        }
    }
}

// What a BMP's header declares; false when the file is too short for one.
struct BmpHeader
{
    qint64 dataOffset = 0, width = 0, height = 0;
    int bits = 0;
    quint32 compression = 0;
};

bool readBmpHeader(int fd, qint64 fileSize, BmpHeader *h)
{
    // The file header and the sizes, depth and compression of the info
    // header: 26 bytes for the old 12-byte info header, 34 for the others.
    uchar header[34] = {};
    const size_t held = size_t(std::min<qint64>(fileSize, qint64(sizeof header)));
    if (held < 26 || !readAt(fd, 0, header, held))
        return false;
    h->dataOffset = qFromLittleEndian<quint32>(header + 10);
    // Read as the toolkit's decoder reads it: a header of a size it does not
    // know (40, 64, 108 and 124 bytes it does) is taken for the old 12-byte
    // one, of signed 16-bit sizes and no compression.
    const quint32 size = qFromLittleEndian<quint32>(header + 14);
    const bool known = size == 40 || size == 64 || size == 108 || size == 124;
    if (known && held < sizeof header)
        return false;
    if (!known) {
        h->width = qFromLittleEndian<qint16>(header + 18);
        h->height = qFromLittleEndian<qint16>(header + 20);
        h->bits = qFromLittleEndian<quint16>(header + 24);
    } else {
        h->width = qFromLittleEndian<qint32>(header + 18);
        h->height = qFromLittleEndian<qint32>(header + 22);
        h->bits = qFromLittleEndian<quint16>(header + 28);
        h->compression = qFromLittleEndian<quint32>(header + 30);
    }
    h->height = qAbs(h->height); // a negative height is a top-down BMP
    return true;
}

// Why a BMP does not hold the pixels its header declares ("" when it
// does, or when its compression cannot be told without decoding).
QString bmpShortfall(int fd, qint64 fileSize)
{
    BmpHeader h;
    if (!readBmpHeader(fd, fileSize, &h))
        return QString();
    const qint64 dataOffset = h.dataOffset, width = h.width, height = h.height;
    const int bits = h.bits;
    const quint32 compression = h.compression;
    if (width <= 0 || height <= 0 || bits <= 0)
        return QString(); // the decoder says what is wrong
    const QString cutShort = QStringLiteral("the file ends before the image does");
    if (compression == 0 || compression == 3 || compression == 6) {
        // Uncompressed rows (bit fields too), each padded to whole words.
        const qint64 stride = (width * bits + 31) / 32 * 4;
        const qint64 held = fileSize > dataOffset ? (fileSize - dataOffset) / stride : 0;
        if (held < height)
            return QStringLiteral("%1: it holds %2 of its %3 rows").arg(cutShort).arg(held).arg(height);
        return QString();
    }
    if (compression == 1 || compression == 2) {
        if (dataOffset >= fileSize || !rleComplete(fd, dataOffset, fileSize, height, compression == 2))
            return cutShort;
    }
    return QString();
}

} // namespace

bool Raster::open(const QString &path, Kind kind, QString *error)
{
    LutTiff::quiet();
    QString reason;
    if (!LutFileNames::openForReading(m_file, path, &reason)) {
        *error = QStringLiteral("cannot open: %1").arg(reason);
        return false;
    }
    m_type = LutImageCodec::rasterFormatOf(m_file.peek(8));
    if (m_type.isEmpty() || (kind == LutImages && m_type == "jpeg")) {
        *error = kind == LutImages ? QStringLiteral("not a PNG, BMP or TIFF image")
                                   : QStringLiteral("not a PNG, TIFF, OpenEXR, JPEG or BMP image");
        return false;
    }
    // With the format given and detection off, neither the content nor the
    // file name can bring in another decoder.
    m_reader.setAutoDetectImageFormat(false);
    m_reader.setDecideFormatFromContent(false);
    m_reader.setFormat(m_type);
    m_reader.setDevice(&m_file);
    return true;
}

QSize Raster::size(QString *error)
{
    LutTiff::clearError();
    const QSize size = m_reader.size();
    if (!size.isValid()) {
        const QString tiff = LutTiff::lastError();
        *error = QStringLiteral("cannot read the image header: %1").arg(tiff.isEmpty() ? m_reader.errorString() : tiff);
        // The toolkit's BMP decoder refuses more than 16384 x 16384 pixels
        // with no reason of its own: name the size instead.
        BmpHeader h;
        if (m_type == "bmp" && readBmpHeader(int(m_file.handle()), m_file.size(), &h)
            && h.width * h.height > qint64(kMaxBmpPixels))
            *error = QStringLiteral("cannot read the image header: %1 x %2 pixels: more than the %3 pixels "
                                    "(16384 x 16384) a BMP may have")
                         .arg(h.width)
                         .arg(h.height)
                         .arg(kMaxBmpPixels);
    }
    return size;
}

QImage Raster::read(QString *error)
{
    if (m_type == "bmp") {
        const QString shortfall = bmpShortfall(int(m_file.handle()), m_file.size());
        if (!shortfall.isEmpty()) {
            *error = QStringLiteral("cannot load the image: %1").arg(shortfall);
            return QImage();
        }
    }
    LutTiff::clearError();
    QImage image = m_reader.read();
    if (image.isNull()) {
        const QString tiff = LutTiff::lastError();
        *error = QStringLiteral("cannot load the image: %1").arg(tiff.isEmpty() ? m_reader.errorString() : tiff);
    }
    return image;
}

bool isSixteenBit(QImage::Format format)
{
    return format == QImage::Format_RGBX64 || format == QImage::Format_RGBA64
        || format == QImage::Format_RGBA64_Premultiplied || format == QImage::Format_Grayscale16;
}

} // namespace LutImageInput
