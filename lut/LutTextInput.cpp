#include "lut/LutTextInput.h"

#include <QDebug>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kBlockSize = 1 << 16;

} // namespace

LutTextInput::LutTextInput(const QString &path)
{
    open(path);
}

bool LutTextInput::open(const QString &path)
{
    close();
    m_file.setFileName(path);
    qDebug() << "file:-----" << path;
    m_error.clear();
    if (QFileInfo(path).isDir()) {
        m_error = qt_error_string(EISDIR);
        return false;
    }
    return m_file.open(QIODevice::ReadOnly);
}

void LutTextInput::close()
{
    m_file.close();
    m_begin = m_end = 0;
    m_eof = false;
    m_lineNumber = 0;
}

bool LutTextInput::fill() const
{
    if (m_eof || !m_file.isOpen())
        return false;
    if (m_buffer.size() < kMaxLineLength + 2 * kBlockSize)
        m_buffer.resize(kMaxLineLength + 2 * kBlockSize);
    // Keep the unread rest of the buffer at its start, then append a block.
    if (m_begin > 0) {
        std::memmove(m_buffer.data(), m_buffer.constData() + m_begin, size_t(m_end - m_begin));
        m_end -= m_begin;
        m_begin = 0;
    }
    const qint64 room = qMin<qint64>(kBlockSize, m_buffer.size() - m_end);
    const qint64 n = m_file.read(m_buffer.data() + m_end, room);
    if (n <= 0) {
        m_eof = true;
        return false;
    }
    m_end += int(n);
    return true;
}

bool LutTextInput::atEnd() const
{
    return m_begin >= m_end && !fill();
}

QByteArray LutTextInput::readRawLine()
{
    if (atEnd())
        return QByteArray();
    ++m_lineNumber;
    int length = 0;
    bool complete = false;
    for (;;) {
        const char *start = m_buffer.constData() + m_begin;
        const int available = m_end - m_begin;
        const void *newline = std::memchr(start, '\n', size_t(qMin(available, kMaxLineLength + 1)));
        if (newline) {
            length = int(static_cast<const char *>(newline) - start);
            complete = true;
            break;
        }
        // Cut a line longer than the limit; its rest is skipped below.
        if (available > kMaxLineLength || !fill()) {
            length = qMin(available, kMaxLineLength + 1);
            break;
        }
    }
    const char *start = m_buffer.constData() + m_begin;
    int shown = length;
    if (complete && shown > 0 && start[shown - 1] == '\r')
        --shown;
    int skip = 0;
    if (m_lineNumber == 1 && shown >= 3 && uchar(start[0]) == 0xEF && uchar(start[1]) == 0xBB
        && uchar(start[2]) == 0xBF)
        skip = 3;
    QByteArray line(start + skip, shown - skip);
    m_begin += length + (complete ? 1 : 0);
    if (!complete && length > kMaxLineLength) {
        // Skip the rest of the over-long line, up to and including its end.
        for (;;) {
            const void *newline = std::memchr(m_buffer.constData() + m_begin, '\n', size_t(m_end - m_begin));
            if (newline) {
                m_begin = int(static_cast<const char *>(newline) - m_buffer.constData()) + 1;
                break;
            }
            m_begin = m_end;
            if (!fill())
                break;
        }
    }
    return line;
}

QString LutTextInput::readLine()
{
    return QString::fromUtf8(readRawLine());
}

bool LutTextInput::rewind()
{
    m_begin = m_end = 0;
    m_eof = false;
    m_lineNumber = 0;
    return m_file.seek(0);
}
