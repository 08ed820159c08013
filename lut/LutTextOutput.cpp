#include "lut/LutTextOutput.h"

#include "lut/LutFileNames.h"
#include "lut/LutMemory.h"

#include <QRandomGenerator>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The text handed to a device at a time. Large enough that the system call
// per block costs nothing next to the formatting, small enough to stay in
// the cache and to keep the memory of a conversion low.
constexpr int kBlockSize = 1 << 18;
// A device's buffer until more is gathered: a header's worth.
constexpr int kFirstRoom = 1 << 12;

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

// The sync round in progress: for each file system written to, a
// descriptor of the folder of the first output there (opened before that
// output is written, so that a failure writing it back is reported to
// syncfs on it) and that output's name.
struct RoundTarget
{
    dev_t device;
    int folder;
    QString file;
};

struct Round
{
    std::mutex mutex;
    bool active = false;
    std::vector<RoundTarget> targets;
};

Round &round()
{
    static Round state;
    return state;
}

// Takes the file system of target (a file about to be written) into the
// round, if one is in progress; false when there is none.
bool joinRound(const QByteArray &target, const QString &name)
{
    Round &r = round();
    const std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.active)
        return false;
    const int slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : target.left(slash);
    struct stat info;
    if (::stat(folder.constData(), &info) != 0)
        return false;
    for (const RoundTarget &known : r.targets) {
        if (known.device == info.st_dev)
            return true;
    }
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    r.targets.push_back(RoundTarget{info.st_dev, fd, name});
    return true;
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
    LutMemory::release(m_data, m_capacity);
}

char *LutTextStream::makeRoom(int n)
{
    // With a device the buffer is one block at most: what is gathered goes
    // out first. It starts as a page, where a writer that hands its table
    // over in blocks of its own (write()) gathers its header and footer;
    // past that it takes the whole block at once, a huge page (LutMemory)
    // instead of the many small pages growing step by step would fault in.
    if (m_device && m_used > 0 && m_used + size_t(n) > size_t(kBlockSize))
        flush();
    const size_t needed = m_used + size_t(n);
    if (m_capacity < needed) {
        size_t grown = m_capacity * 2;
        if (grown < needed)
            grown = needed;
        if (grown < 256)
            grown = 256;
        if (m_device && grown < size_t(kBlockSize))
            grown = m_capacity == 0 && grown <= size_t(kFirstRoom) ? size_t(kFirstRoom) : size_t(kBlockSize);
        char *data = static_cast<char *>(LutMemory::reallocate(m_data, m_capacity, grown));
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

// A write-only device on a file descriptor. Each write goes to the system
// at once (the streams above gather large blocks) and is repeated until all
// of it is written, so a short write is followed by the one that says why;
// the first failure's reason is kept and every later write fails.
class LutOutputDevice : public QIODevice
{
public:
    LutOutputDevice(int fd, bool closeAtEnd) : m_fd(fd), m_close(closeAtEnd)
    {
        struct stat info;
        m_seekable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    ~LutOutputDevice() override { closeDescriptor(); }

    bool isSequential() const override { return !m_seekable; }
    bool failed() const { return m_errno != 0; }
    int descriptor() const { return m_fd; }

    bool seek(qint64 pos) override
    {
        if (failed() || !m_seekable)
            return false;
        if (::lseek(m_fd, off_t(pos), SEEK_SET) < 0)
            return fail(errno);
        return QIODevice::seek(pos);
    }
    qint64 size() const override
    {
        struct stat info;
        return m_seekable && ::fstat(m_fd, &info) == 0 ? qint64(info.st_size) : pos();
    }
    // Closes the descriptor; false, with the reason kept, when the system
    // reports a failure there (a delayed write error).
    bool closeDescriptor()
    {
        if (m_fd < 0 || !m_close)
            return !failed();
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0 && errno != EINTR)
            return fail(errno);
        return !failed();
    }
    // Writes what the file holds to its disk; false with the reason.
    bool sync()
    {
        if (failed())
            return false;
        if (m_seekable && ::fsync(m_fd) != 0 && errno != EINVAL)
            return fail(errno);
        return true;
    }
    bool fail(int error)
    {
        if (m_errno == 0) {
            m_errno = error;
            setErrorString(qt_error_string(error));
        }
        return false;
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        if (failed() || m_fd < 0)
            return -1;
        qint64 done = 0;
        while (done < size) {
            const ssize_t n = ::write(m_fd, data + done, size_t(qMin<qint64>(size - done, qint64(1) << 30)));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                fail(n < 0 ? errno : EIO);
                return -1;
            }
            done += n;
        }
        writeBehind(done);
        return done;
    }

private:
    // A large file goes to the disk while it is written: every
    // kWriteBehind bytes, the system is asked to start writing what the file
    // holds so far (without waiting), so that the sync that ends the file
    // (or its round) finds little left to write, rather than all of a
    // picture's tens of MB at once. It also spares the rename that puts the
    // file in place the work of starting it (ext4 starts writing a file that
    // replaces another when it is renamed): 65-point cube, commit 4.4-5.6 ->
    // 3.0-3.5 ms. A hint: a file system that does not take it is synced as
    // before.
    static constexpr qint64 kWriteBehind = qint64(512) << 10;
    void writeBehind(qint64 bytes)
    {
        m_unstarted += bytes;
#if defined(__linux__) && defined(SYNC_FILE_RANGE_WRITE)
        if (m_seekable && m_unstarted >= kWriteBehind) {
            ::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
            m_unstarted = 0;
        }
#endif
    }

    int m_fd;
    bool m_close;
    bool m_seekable = false;
    int m_errno = 0;
    qint64 m_unstarted = 0; // bytes written since writing to disk was last started
};

LutTextOutput::LutTextOutput(const QString &path)
    : m_path(path)
{
}

LutTextOutput::~LutTextOutput()
{
    // Without a commit the temporary file goes; what the stream still holds
    // is dropped with it.
    if (m_stream)
        m_stream->discard();
    m_stream.reset();
    discard();
}

QIODevice *LutTextOutput::device() const
{
    return m_device.get();
}

void LutTextOutput::discard()
{
    m_device.reset();
    if (!m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
    m_temporary.clear();
}

bool LutTextOutput::open()
{
    if (m_path.isEmpty()) {
        m_error = QStringLiteral("no file name");
        return false;
    }
    if (m_path == QLatin1String("-")) {
        const int mode = ::fcntl(STDOUT_FILENO, F_GETFL);
        if (mode < 0 || (mode & O_ACCMODE) == O_RDONLY) {
            m_error = QStringLiteral("it is closed or open only for reading");
            return false;
        }
        std::fflush(stdout);
        m_device = std::make_unique<LutOutputDevice>(STDOUT_FILENO, false);
        m_stream = std::make_unique<LutTextStream>(m_device.get());
        return true;
    }
    QByteArray target = LutFileNames::toBytes(m_path);
    struct stat info;
    bool exists = ::lstat(target.constData(), &info) == 0;
    if (exists && S_ISLNK(info.st_mode)) {
        // The file the link points at, when there is one; a dangling link
        // is replaced by the file.
        if (char *resolved = ::realpath(target.constData(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
        exists = ::stat(target.constData(), &info) == 0;
    }
    if (exists && S_ISDIR(info.st_mode)) {
        m_error = qt_error_string(EISDIR);
        return false;
    }
    int fd = -1;
    if (exists && !S_ISREG(info.st_mode)) {
        do {
            fd = ::open(target.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
    } else {
        // A name of its own beside the target, so that the rename stays
        // within one file system; created with the permissions the umask
        // leaves, or given the replaced file's.
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray name = target + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".tmp";
            fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                m_temporary = name;
                break;
            }
            if (errno != EEXIST && errno != EINTR)
                break;
        }
        if (fd >= 0 && exists)
            ::fchmod(fd, info.st_mode & 07777);
    }
    if (fd < 0) {
        m_error = qt_error_string(errno);
        return false;
    }
    m_deferSync = !m_temporary.isEmpty() && joinRound(target, m_path);
    m_target = target;
    m_device = std::make_unique<LutOutputDevice>(fd, true);
    m_stream = std::make_unique<LutTextStream>(m_device.get());
    return true;
}

bool LutTextOutput::commit()
{
    if (!m_device || !m_stream)
        return false;
    m_stream->flush();
    m_stream.reset();
    LutOutputDevice &device = *m_device;
    const bool written = (m_deferSync || device.sync()) && device.closeDescriptor();
    if (!written || (!m_temporary.isEmpty() && ::rename(m_temporary.constData(), m_target.constData()) != 0)) {
        if (written)
            device.fail(errno);
        m_error = device.errorString();
        discard();
        return false;
    }
    m_temporary.clear();
    return true;
}

QString LutTextOutput::errorString() const
{
    if (!m_error.isEmpty() || !m_device)
        return m_error;
    return m_device->errorString();
}

LutSyncRound::LutSyncRound()
{
    Round &r = round();
    const std::lock_guard<std::mutex> lock(r.mutex);
    r.active = true;
}

LutSyncRound::~LutSyncRound()
{
    if (!m_finished) {
        QString file, reason;
        finish(&file, &reason);
    }
}

bool LutSyncRound::finish(QString *file, QString *reason)
{
    m_finished = true;
    Round &r = round();
    std::vector<RoundTarget> targets;
    {
        const std::lock_guard<std::mutex> lock(r.mutex);
        r.active = false;
        targets.swap(r.targets);
    }
    bool ok = true;
    for (const RoundTarget &target : targets) {
        if (::syncfs(target.folder) != 0 && ok) {
            ok = false;
            *file = target.file;
            *reason = qt_error_string(errno);
        }
        ::close(target.folder);
    }
    return ok;
}
