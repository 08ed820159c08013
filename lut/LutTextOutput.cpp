#include "lut/LutTextOutput.h"

#include <QFileInfo>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// The text handed to a device at a time. Large enough that the system call
// per block costs nothing next to the formatting, small enough to stay in
// the cache and to keep the memory of a conversion low.
constexpr int kBlockSize = 1 << 18;

// Writes c, a Latin-1 character, as UTF-8; returns the bytes written.
inline int latin1ToUtf8(char *out, unsigned char c)
{
    if (c < 0x80) {
        out[0] = char(c);
        return 1;
    }
    out[0] = char(0xC0 | (c >> 6));
    out[1] = char(0x80 | (c & 0x3F));
    return 2;
}

bool isAscii(const char *text, qint64 size)
{
    for (qint64 i = 0; i < size; ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return false;
    }
    return true;
}

} // namespace

LutTextStream::LutTextStream(QIODevice *device)
    : m_device(device)
{
}

LutTextStream::~LutTextStream()
{
    flush();
    std::free(m_data);
}

char *LutTextStream::makeRoom(int n)
{
    // With a device the buffer stays one block: what is gathered goes out
    // first. Without one it grows.
    if (m_device && m_used > 0 && m_used + size_t(n) > size_t(kBlockSize))
        flush();
    const size_t needed = m_used + size_t(n);
    if (m_capacity < needed) {
        size_t grown = m_capacity * 2;
        if (grown < needed)
            grown = needed;
        if (grown < size_t(kBlockSize) && m_device)
            grown = size_t(kBlockSize);
        if (grown < 256)
            grown = 256;
        char *data = static_cast<char *>(std::realloc(m_data, grown));
        if (!data)
            throw std::bad_alloc();
        m_data = data;
        m_capacity = grown;
    }
    return m_data + m_used;
}

void LutTextStream::append(const char *data, qint64 size)
{
    while (size > 0) {
        // Whole blocks go out in pieces, so that memory stays bounded.
        const int piece = int(qMin<qint64>(size, kBlockSize));
        char *out = reserve(piece);
        std::memcpy(out, data, size_t(piece));
        m_used += size_t(piece);
        data += piece;
        size -= piece;
    }
}

void LutTextStream::write(const char *data, qint64 size)
{
    if (!m_device || size < kBlockSize / 4) {
        append(data, size);
        return;
    }
    flush();
    if (m_device->write(data, size) != size)
        m_failed = true;
}

bool LutTextStream::flush()
{
    if (!m_device || m_used == 0)
        return !m_failed;
    const qint64 written = m_device->write(m_data, qint64(m_used));
    if (written != qint64(m_used))
        m_failed = true;
    m_used = 0;
    return !m_failed;
}

LutTextStream &LutTextStream::latin1(char c)
{
    char *out = reserve(2);
    commit(out + latin1ToUtf8(out, static_cast<unsigned char>(c)));
    return *this;
}

LutTextStream &LutTextStream::operator<<(QLatin1String latin1)
{
    const char *text = latin1.data();
    const int size = latin1.size();
    if (isAscii(text, size)) {
        append(text, size);
        return *this;
    }
    for (int i = 0; i < size; ++i)
        *this << text[i];
    return *this;
}

LutTextStream &LutTextStream::operator<<(const char *latin1)
{
    return *this << QLatin1String(latin1);
}

LutTextStream &LutTextStream::operator<<(const QString &text)
{
    // Plain-ASCII strings (separators, indents, keywords) are narrowed
    // straight into the buffer; anything else is encoded by QString.
    const int size = text.size();
    const QChar *in = text.constData();
    char *out = reserve(size);
    for (int i = 0; i < size; ++i) {
        const ushort u = in[i].unicode();
        if (u >= 0x80) {
            append(text.toUtf8());
            return *this;
        }
        out[i] = char(u);
    }
    m_used += size_t(size);
    return *this;
}

LutTextStream &LutTextStream::operator<<(const QByteArray &utf8)
{
    // Bytes are taken as UTF-8; anything that is not is written as U+FFFD.
    if (isAscii(utf8.constData(), utf8.size()))
        append(utf8);
    else
        append(QString::fromUtf8(utf8).toUtf8());
    return *this;
}

LutTextStream &LutTextStream::operator<<(double v)
{
    // The toolkit's stream writes any NaN as "nan".
    if (std::isnan(v))
        return *this << "nan";
    // Fixed notation of a finite double has at most 309 digits before the point.
    const int capacity = 340 + m_precision;
    char *out = reserve(capacity);
    int n = 0;
    if (m_notation == QTextStream::FixedNotation && m_precision == 6 && double(float(v)) == v)
        n = formatFixed6(out, float(v));
    if (n == 0)
        n = formatLutReal(out, capacity, v, m_notation, m_precision);
    commit(out + n);
    return *this;
}

int formatLutReal(char *buffer, int capacity, double v, QTextStream::RealNumberNotation notation, int precision)
{
    const std::chars_format format = notation == QTextStream::FixedNotation ? std::chars_format::fixed
        : notation == QTextStream::ScientificNotation                       ? std::chars_format::scientific
                                                                            : std::chars_format::general;
    // Non-finite values print as printf prints them.
    if (std::isnan(v) || std::isinf(v)) {
        const char *text = std::isnan(v) ? (std::signbit(v) ? "-nan" : "nan") : (v < 0 ? "-inf" : "inf");
        const int n = int(std::strlen(text));
        if (n > capacity)
            return 0;
        std::memcpy(buffer, text, size_t(n));
        return n;
    }
    const std::to_chars_result result = std::to_chars(buffer, buffer + capacity, v, format, precision);
    if (result.ec != std::errc())
        return 0;
    return int(result.ptr - buffer);
}

LutTextOutput::LutTextOutput(const QString &path)
    : m_path(path)
{
}

LutTextOutput::~LutTextOutput()
{
    // An uncommitted QSaveFile discards its temporary file when it goes;
    // what the stream still holds is dropped with it.
    if (m_stream)
        m_stream->discard();
}

bool LutTextOutput::open()
{
    const QFileInfo info(m_path);
    if (m_path.isEmpty()) {
        m_error = QStringLiteral("no file name");
        return false;
    }
    if (m_path == QLatin1String("-")) {
        auto standardOutput = std::make_unique<QFile>();
        if (!standardOutput->open(1, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
            m_error = standardOutput->errorString();
            return false;
        }
        m_device = std::move(standardOutput);
    } else {
        if (info.isDir()) {
            m_error = qt_error_string(EISDIR);
            return false;
        }
        if (info.exists() && !info.isFile())
            m_device = std::make_unique<QFile>(m_path);
        else
            m_device = std::make_unique<QSaveFile>(m_path);
        if (!m_device->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            return false;
    }
    m_stream = std::make_unique<LutTextStream>(m_device.get());
    return true;
}

bool LutTextOutput::commit()
{
    if (!m_device || !m_device->isOpen() || !m_stream)
        return false;
    const bool streamed = m_stream->flush();
    m_stream.reset();
    if (auto *save = dynamic_cast<QSaveFile *>(m_device.get())) {
        if (streamed)
            return save->commit();
        save->cancelWriting();
        return false;
    }
    // QFile keeps written text in its own buffer until it is flushed.
    const bool ok = streamed && m_device->flush() && m_device->error() == QFileDevice::NoError;
    if (!ok)
        m_error = m_device->errorString();
    m_device->close();
    return ok;
}

QString LutTextOutput::errorString() const
{
    if (!m_error.isEmpty() || !m_device)
        return m_error;
    return m_device->errorString();
}
