#include "lut/LutLog.h"
#include "lut/LutTextInput.h"
#include "lut/LutFileNames.h"
#include "lut/LutMemory.h"

#include <QDebug>

#include <cerrno>
#include <cstring>
#include <new>

#include <unistd.h>

namespace {

constexpr int kBlockSize = 1 << 16;
// Reads of this many bytes or more are split between two threads.
constexpr qint64 kParallelRead = qint64(1) << 18;
// The buffer: room for the longest line kept and a block on either side.
constexpr int kBufferSize = LutTextInput::kMaxLineLength + 2 * kBlockSize;

} // namespace

LutTextInput::LutTextInput(const QString &path)
{
    open(path);
}

LutTextInput::~LutTextInput()
{
    LutMemory::release(m_buffer, size_t(m_capacity));
}

bool LutTextInput::open(const QString &path)
{
    close();
    m_path = path;
    lutReadDebug() << "file:-----" << path;
    m_error.clear();
    // By the name's own bytes; a folder is refused with the system's reason.
    return LutFileNames::openForReading(m_file, path, &m_error);
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
    if (!m_buffer) {
        // A file shorter than the buffer takes a buffer of its own length
        // (and a byte, to see its end): most LUT files are a few KB.
        const qint64 size = m_file.isSequential() ? 0 : m_file.size();
        m_capacity = size > 0 && size < kBufferSize ? int(size) + 1 : kBufferSize;
        m_buffer = static_cast<char *>(LutMemory::allocate(size_t(m_capacity)));
        if (!m_buffer)
            throw std::bad_alloc();
    }
    // When less than a block is left behind what was read, the unread rest
    // moves to the start of the buffer; then all the room behind it is filled.
    if (m_begin > 0 && m_capacity - m_end < kBlockSize) {
        std::memmove(m_buffer, m_buffer + m_begin, size_t(m_end - m_begin));
        m_end -= m_begin;
        m_begin = 0;
    }
    // A file that grew since it was opened, or the next file read with
    // this input, takes the whole buffer.
    if (m_end == m_capacity && m_capacity < kBufferSize) {
        char *grown = static_cast<char *>(LutMemory::reallocate(m_buffer, size_t(m_capacity), size_t(kBufferSize)));
        if (!grown)
            throw std::bad_alloc();
        m_buffer = grown;
        m_capacity = kBufferSize;
    }
    const qint64 room = m_capacity - m_end;
    const qint64 n = readInto(m_buffer + m_end, room);
    if (n <= 0) {
        m_eof = true;
        return false;
    }
    m_end += int(n);
    return true;
}

qint64 LutTextInput::readInto(char *data, qint64 room) const
{
    // A large read of a file is copied by two threads, each reading its
    // half from the file's offset: the copy from the system's cache is most
    // of a read's time, and one thread would leave the other processor idle.
    // Only as far as the file's length (what a grown file gained comes
    // with the next read). Near the end, or where the length says nothing
    // (a file of the system's that reads as more than its length of 0), one
    // read as usual.
    const qint64 at = m_file.pos();
    const qint64 left = m_file.isSequential() ? 0 : m_file.size() - at;
    if (left < kParallelRead || room < kParallelRead || LutParallel::threads() < 2)
        return m_file.read(data, room);
    room = qMin(room, left);
    const int fd = m_file.handle();
    const qint64 half = room / 2;
    qint64 got[2] = {0, 0};
    LutParallel::forRanges(2, 1, [&](qint64 first, qint64 end) {
        for (qint64 part = first; part < end; ++part) {
            const qint64 from = part == 0 ? 0 : half;
            const qint64 wanted = part == 0 ? half : room - half;
            qint64 &done = got[part];
            while (done < wanted) {
                const ssize_t r = ::pread(fd, data + from + done, size_t(wanted - done), off_t(at + from + done));
                if (r < 0 && errno == EINTR)
                    continue;
                if (r <= 0)
                    break;
                done += r;
            }
        }
    });
    // Anything short (the file shrank, a read failed) is read again the
    // usual way, which reports what went wrong.
    if (got[0] < half || got[1] < room - half)
        return m_file.read(data, room);
    return m_file.seek(at + room) ? room : -1;
}

bool LutTextInput::atEnd() const
{
    return m_begin >= m_end && !fill();
}

bool LutTextInput::nextLine(const char **data, int *size)
{
    if (m_begin >= m_end && !fill())
        return false;
    ++m_lineNumber;
    int length = 0;
    bool complete = false;
    for (;;) {
        const char *start = m_buffer + m_begin;
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
    const char *start = m_buffer + m_begin;
    int shown = length;
    if (complete && shown > 0 && start[shown - 1] == '\r')
        --shown;
    int skip = 0;
    if (m_lineNumber == 1 && shown >= 3 && uchar(start[0]) == 0xEF && uchar(start[1]) == 0xBB
        && uchar(start[2]) == 0xBF)
        skip = 3;
    m_begin += length + (complete ? 1 : 0);
    if (complete || length <= kMaxLineLength) {
        *data = start + skip;
        *size = shown - skip;
        return true;
    }
    // Keep the cut line apart, then skip the rest of it, up to and
    // including its end (reading on moves the buffer).
    m_cut = QByteArray(start + skip, shown - skip);
    for (;;) {
        const void *newline = std::memchr(m_buffer + m_begin, '\n', size_t(m_end - m_begin));
        if (newline) {
            m_begin = int(static_cast<const char *>(newline) - m_buffer) + 1;
            break;
        }
        m_begin = m_end;
        if (!fill())
            break;
    }
    *data = m_cut.constData();
    *size = m_cut.size();
    return true;
}

QByteArray LutTextInput::readRawLine()
{
    const char *data = nullptr;
    int size = 0;
    if (!nextLine(&data, &size))
        return QByteArray();
    return QByteArray(data, size);
}

bool LutTextInput::readTrimmedLine(QByteArray &line)
{
    const char *data = nullptr;
    int size = 0;
    if (!nextLine(&data, &size)) {
        line.resize(0);
        return false;
    }
    const char *start = data;
    const char *stop = data + size;
    LutTextLines::trim(start, stop);
    line.resize(int(stop - start));
    std::memcpy(line.data(), start, size_t(stop - start));
    return true;
}

bool LutTextInput::peekLines(int maxBytes, const char **data, int *size)
{
    *data = nullptr;
    *size = 0;
    if (m_begin >= m_end && !fill())
        return false;
    if (m_lineNumber == 0)
        return true;
    maxBytes = qBound(1, maxBytes, kMaxLineLength);
    while (m_end - m_begin < maxBytes && fill()) {
    }
    const char *start = m_buffer + m_begin;
    const int available = m_end - m_begin;
    int length = qMin(available, maxBytes);
    if (m_eof && available <= maxBytes) {
        // The rest of the file, its last line perhaps without a line end.
        *data = start;
        *size = available;
        return true;
    }
    while (length > 0 && start[length - 1] != '\n')
        --length;
    *data = start;
    *size = length;
    return true;
}

void LutTextInput::consumeLines(int bytes, qint64 lines)
{
    m_begin += bytes;
    m_lineNumber += lines;
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
    // A device (/dev/null, a terminal) cannot seek; asking it would only
    // have the toolkit print a warning of its own.
    if (m_file.isSequential()) {
        m_error = QStringLiteral("it is a device, which gives its bytes only once");
        return false;
    }
    return m_file.seek(0);
}
