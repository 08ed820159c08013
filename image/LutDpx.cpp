#include "image/LutDpx.h"

#include <QFileInfo>
#include <QIODevice>

#include <algorithm>
#include <cstring>

namespace {

// The generic (file, image, orientation) and industry (film, television)
// headers: what is read, kept and written.
constexpr int kHeaderSize = 2048;
constexpr int kGenericSize = 1664;
constexpr int kIndustrySize = 384;
constexpr quint32 kMagic = 0x53445058; // "SDPX" read as a big-endian word
constexpr quint32 kUndefined = 0xffffffffu;

// Offsets in the header.
constexpr int kImageOffset = 4, kVersion = 8, kFileSize = 16, kGenericSizeField = 24, kIndustrySizeField = 28,
              kUserSize = 32, kFileName = 36;
constexpr int kElementCount = 770, kPixelsPerLine = 772, kLinesPerElement = 776, kElement = 780, kElementSize = 72;
// Within an element.
constexpr int kDataSign = 0, kLowCode = 4, kLowQuantity = 8, kHighCode = 12, kHighQuantity = 16, kDescriptor = 20,
              kTransfer = 21, kColorimetric = 22, kBitDepth = 23, kPacking = 24, kEncoding = 26, kDataOffset = 28,
              kLinePadding = 32, kImagePadding = 36;

// The numbers of the header, as (offset, bytes): what changes with the byte
// order. Everything else is text or single bytes.
struct Field
{
    int offset;
    int bytes;
};
std::vector<Field> numberFields()
{
    std::vector<Field> fields = {{0, 4},    {4, 4},    {16, 4},   {20, 4},   {24, 4},   {28, 4},   {32, 4},
                                 {660, 4},  {768, 2},  {770, 2},  {772, 4},  {776, 4},
                                 // Orientation: offsets, centre, original size, border, aspect.
                                 {1408, 4}, {1412, 4}, {1416, 4}, {1420, 4}, {1424, 4}, {1428, 4}, {1620, 2},
                                 {1622, 2}, {1624, 2}, {1626, 2}, {1628, 4}, {1632, 4},
                                 // Film: frame position, sequence length, held count, frame rate, shutter.
                                 {1712, 4}, {1716, 4}, {1720, 4}, {1724, 4}, {1728, 4},
                                 // Television: time code, user bits, then ten reals.
                                 {1920, 4}, {1924, 4}};
    for (int i = 0; i < 10; ++i)
        fields.push_back({1932 + 4 * i, 4});
    for (int e = 0; e < 8; ++e) {
        const int base = kElement + e * kElementSize;
        for (const Field f : {Field{kDataSign, 4}, Field{kLowCode, 4}, Field{kLowQuantity, 4}, Field{kHighCode, 4},
                              Field{kHighQuantity, 4}, Field{kPacking, 2}, Field{kEncoding, 2}, Field{kDataOffset, 4},
                              Field{kLinePadding, 4}, Field{kImagePadding, 4}})
            fields.push_back({base + f.offset, f.bytes});
    }
    return fields;
}

quint32 get(const QByteArray &header, int offset, int bytes)
{
    quint32 value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | uchar(header[offset + i]);
    return value;
}

void put(QByteArray &header, int offset, int bytes, quint32 value)
{
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
        header[offset + i] = char(value & 0xff);
}

void putText(QByteArray &header, int offset, int bytes, const QByteArray &text)
{
    std::memset(header.data() + offset, 0, size_t(bytes));
    std::memcpy(header.data() + offset, text.constData(), size_t(std::min<int>(bytes - 1, text.size())));
}

// The bytes of one row of `samples` samples of bits (10: filled into
// 32-bit words, three to a word; 12: one to a 16-bit word; 8 and 16 one
// to a byte or two), rounded up to whole 32-bit words.
qint64 rowBytes(qint64 samples, int bits)
{
    const qint64 bytes = bits == 10 ? (samples + 2) / 3 * 4 : bits == 8 ? samples : samples * 2;
    return (bytes + 3) / 4 * 4;
}

} // namespace

bool DpxReader::fail(const QString &reason)
{
    m_error = reason;
    return false;
}

bool DpxReader::open(const QString &path)
{
    m_rowsRead = 0;
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot open: %1").arg(m_file.errorString()));
    m_header = m_file.read(kHeaderSize);
    if (m_header.size() < kGenericSize)
        return fail(QStringLiteral("cannot read the DPX header: the file ends after %1 bytes").arg(m_header.size()));
    const quint32 magic = get(m_header, 0, 4);
    if (magic != kMagic && magic != 0x58504453)
        return fail(QStringLiteral("not a DPX file (no SDPX or XPDS at its start)"));
    m_header.append(QByteArray(kHeaderSize - m_header.size(), '\0'));
    m_bigEndian = magic == kMagic;
    if (!m_bigEndian) {
        for (const Field &f : numberFields())
            std::reverse(m_header.begin() + f.offset, m_header.begin() + f.offset + f.bytes);
    }

    const quint32 elements = get(m_header, kElementCount, 2);
    const quint32 width = get(m_header, kPixelsPerLine, 4), height = get(m_header, kLinesPerElement, 4);
    if (elements < 1 || elements > 8)
        return fail(QStringLiteral("the DPX header declares %1 image elements (1 to 8)").arg(elements));
    // A width or height beyond an int is refused by the size bounds anyway.
    if (width < 1 || height < 1 || width > 0x7fffffffu || height > 0x7fffffffu)
        return fail(QStringLiteral("the DPX header declares %1 x %2 pixels").arg(width).arg(height));
    m_width = int(width);
    m_height = int(height);

    const int element = kElement;
    const int descriptor = uchar(m_header[element + kDescriptor]);
    if (descriptor != 50 && descriptor != 51)
        return fail(QStringLiteral("a DPX image element of descriptor %1 is not read (RGB, 50, and RGBA, 51, are)").arg(descriptor));
    m_channels = descriptor == 51 ? 4 : 3;
    m_bits = uchar(m_header[element + kBitDepth]);
    m_packing = int(get(m_header, element + kPacking, 2));
    if (get(m_header, element + kEncoding, 2) != 0)
        return fail(QStringLiteral("a run-length encoded DPX is not read"));
    const bool known = (m_bits == 8 && m_packing <= 1) || (m_bits == 16 && m_packing <= 1)
                    || (m_bits == 10 && (m_packing == 1 || m_packing == 2)) || (m_bits == 12 && (m_packing == 1 || m_packing == 2));
    if (!known)
        return fail(QStringLiteral("a DPX of %1-bit samples with packing %2 is not read (8 and 16 bits; 10 and 12 "
                                   "filled, packing 1 or 2)")
                        .arg(m_bits)
                        .arg(m_packing));

    quint32 offset = get(m_header, element + kDataOffset, 4);
    if (offset == kUndefined || offset == 0)
        offset = get(m_header, kImageOffset, 4);
    quint32 padding = get(m_header, element + kLinePadding, 4);
    if (padding == kUndefined)
        padding = 0;
    const qint64 bytes = rowBytes(qint64(m_width) * m_channels, m_bits);
    m_stride = bytes + padding;
    // In floating point: a padding of up to 4 GB a row times the rows
    // overflows 64 bits.
    const double needed = double(offset) + double(m_stride) * double(m_height - 1) + double(bytes);
    if (needed > double(m_file.size()))
        return fail(QStringLiteral("the file ends before the image does: %1 x %2 pixels take %3 bytes, the file has %4")
                        .arg(m_width)
                        .arg(m_height)
                        .arg(needed, 0, 'f', 0)
                        .arg(m_file.size()));
    if (!m_file.seek(offset))
        return fail(QStringLiteral("cannot read the image data: %1").arg(m_file.errorString()));
    // The row's samples only: a row's padding (up to 4 GB, even for a
    // picture of one row) is passed over, never read into memory.
    m_row.resize(size_t(bytes));
    return true;
}

bool DpxReader::readRow(quint16 *codes)
{
    const qint64 bytes = rowBytes(qint64(m_width) * m_channels, m_bits);
    // The padding before a row (after the one before it) is passed over.
    if (m_rowsRead > 0 && m_stride > bytes && !m_file.seek(m_file.pos() + (m_stride - bytes)))
        return fail(QStringLiteral("cannot read the image data: %1").arg(m_file.errorString()));
    if (m_file.read(reinterpret_cast<char *>(m_row.data()), bytes) != bytes)
        return fail(QStringLiteral("cannot read the image data: the file ends before the image does"));
    ++m_rowsRead;
    const uchar *p = m_row.data();
    const auto word32 = [&](qint64 i) {
        const uchar *w = p + 4 * i;
        return m_bigEndian ? quint32(w[0]) << 24 | quint32(w[1]) << 16 | quint32(w[2]) << 8 | w[3]
                           : quint32(w[3]) << 24 | quint32(w[2]) << 16 | quint32(w[1]) << 8 | w[0];
    };
    const auto word16 = [&](qint64 i) {
        const uchar *w = p + 2 * i;
        return m_bigEndian ? quint16(w[0] << 8 | w[1]) : quint16(w[1] << 8 | w[0]);
    };
    const qint64 samples = qint64(m_width) * m_channels;
    const quint16 opaque = quint16((1 << m_bits) - 1);
    for (qint64 s = 0; s < samples; ++s) {
        quint16 value;
        if (m_bits == 10) {
            // Method A leaves the two low bits of a word empty, B the two high.
            const quint32 w = word32(s / 3);
            const int shift = (m_packing == 1 ? 22 : 20) - 10 * int(s % 3);
            value = quint16(w >> shift & 0x3ff);
        } else if (m_bits == 12) {
            value = m_packing == 1 ? quint16(word16(s) >> 4) : quint16(word16(s) & 0xfff);
        } else if (m_bits == 16) {
            value = word16(s);
        } else {
            value = p[s];
        }
        const qint64 pixel = s / m_channels;
        codes[4 * pixel + s % m_channels] = value;
        if (m_channels == 3 && s % 3 == 2)
            codes[4 * pixel + 3] = opaque;
    }
    return true;
}

bool DpxWriter::open(QIODevice *device, int width, int height, int bits, bool alpha, const QByteArray &keptHeader,
                     const QString &fileName)
{
    m_device = device;
    m_width = width;
    m_bits = bits;
    m_channels = alpha ? 4 : 3;
    const qint64 bytes = rowBytes(qint64(width) * m_channels, bits);
    m_row.assign(size_t(bytes), 0);

    QByteArray header = keptHeader.size() == kHeaderSize ? keptHeader : QByteArray();
    if (header.isEmpty()) {
        // Every number undefined (all bits set) and every text empty, then
        // the layout below.
        header = QByteArray(kHeaderSize, '\0');
        for (const Field &f : numberFields())
            put(header, f.offset, f.bytes, kUndefined);
        header[kElement + kElementSize * 0 + kDescriptor] = char(0xff);
        std::memset(header.data() + 1928, 0xff, 4); // interlace, field number, video signal, padding
    }
    // One element: the others undefined.
    for (int e = 1; e < 8; ++e) {
        const int base = kElement + e * kElementSize;
        std::memset(header.data() + base, 0xff, kElementSize - 32);
        std::memset(header.data() + base + 40, 0, 32);
    }
    put(header, 0, 4, kMagic);
    put(header, kImageOffset, 4, kHeaderSize);
    putText(header, kVersion, 8, "V2.0");
    put(header, kFileSize, 4, quint32(std::min<qint64>(kUndefined - 1, kHeaderSize + bytes * height)));
    put(header, kGenericSizeField, 4, kGenericSize);
    put(header, kIndustrySizeField, 4, kIndustrySize);
    put(header, kUserSize, 4, 0);
    putText(header, kFileName, 100, QFileInfo(fileName).fileName().toUtf8());
    if (get(header, 768, 2) > 7)
        put(header, 768, 2, 0); // left to right, top to bottom
    put(header, kElementCount, 2, 1);
    put(header, kPixelsPerLine, 4, quint32(width));
    put(header, kLinesPerElement, 4, quint32(height));
    const int e = kElement;
    put(header, e + kDataSign, 4, 0);
    put(header, e + kLowCode, 4, 0);
    put(header, e + kLowQuantity, 4, kUndefined);
    put(header, e + kHighCode, 4, quint32((1 << bits) - 1));
    put(header, e + kHighQuantity, 4, kUndefined);
    header[e + kDescriptor] = char(alpha ? 51 : 50);
    // The LUT has changed what the codes mean: user-defined.
    header[e + kTransfer] = 0;
    header[e + kColorimetric] = 0;
    header[e + kBitDepth] = char(bits);
    put(header, e + kPacking, 2, bits == 10 ? 1 : 0);
    put(header, e + kEncoding, 2, 0);
    put(header, e + kDataOffset, 4, kHeaderSize);
    put(header, e + kLinePadding, 4, 0);
    put(header, e + kImagePadding, 4, 0);
    if (device->write(header) != header.size()) {
        m_error = QStringLiteral("write failed: %1").arg(device->errorString());
        return false;
    }
    return true;
}

bool DpxWriter::writeRow(const quint16 *codes)
{
    const qint64 samples = qint64(m_width) * m_channels;
    uchar *p = m_row.data();
    std::fill(m_row.begin(), m_row.end(), 0);
    for (qint64 s = 0; s < samples; ++s) {
        const quint16 value = codes[4 * (s / m_channels) + s % m_channels];
        if (m_bits == 10) {
            uchar *w = p + 4 * (s / 3);
            quint32 word = quint32(w[0]) << 24 | quint32(w[1]) << 16 | quint32(w[2]) << 8 | w[3];
            word |= quint32(value & 0x3ff) << (22 - 10 * int(s % 3));
            w[0] = uchar(word >> 24);
            w[1] = uchar(word >> 16);
            w[2] = uchar(word >> 8);
            w[3] = uchar(word);
        } else {
            p[2 * s] = uchar(value >> 8);
            p[2 * s + 1] = uchar(value);
        }
    }
    if (m_device->write(reinterpret_cast<const char *>(p), qint64(m_row.size())) != qint64(m_row.size())) {
        m_error = QStringLiteral("write failed: %1").arg(m_device->errorString());
        return false;
    }
    return true;
}
