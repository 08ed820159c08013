#include "lut/LutFileNames.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LutFileNames {

namespace {

constexpr ushort kEscapeBase = 0xDC00; // U+DC80..U+DCFF stand for the bytes 0x80..0xFF

// The length of the UTF-8 sequence at text[i] (2 to 4), or 0 when the
// bytes there are no valid sequence (a stray continuation byte, a
// sequence cut short, an overlong form, a surrogate, beyond U+10FFFF).
int sequenceLength(const uchar *text, int size, int i)
{
    const uchar lead = text[i];
    int length = 0;
    uint low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > size || text[i + 1] < low || text[i + 1] > high)
        return 0;
    for (int k = 2; k < length; ++k) {
        if ((text[i + k] & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

} // namespace

QString fromBytes(const QByteArray &name)
{
    const auto *text = reinterpret_cast<const uchar *>(name.constData());
    const int size = name.size();
    QString result;
    result.reserve(size);
    int plainFrom = 0; // the start of the valid UTF-8 not yet decoded
    for (int i = 0; i < size;) {
        if (text[i] < 0x80) {
            ++i;
            continue;
        }
        const int length = sequenceLength(text, size, i);
        if (length > 0) {
            i += length;
            continue;
        }
        result += QString::fromUtf8(name.constData() + plainFrom, i - plainFrom);
        result += QChar(ushort(kEscapeBase + text[i]));
        plainFrom = ++i;
    }
    result += QString::fromUtf8(name.constData() + plainFrom, size - plainFrom);
    return result;
}

QByteArray toBytes(const QString &name)
{
    QByteArray result;
    result.reserve(name.size());
    int plainFrom = 0;
    for (int i = 0; i < name.size(); ++i) {
        const ushort u = name.at(i).unicode();
        if (u < 0xDC80 || u > 0xDCFF)
            continue;
        // A low surrogate after a high one is half of a valid pair.
        if (i > 0 && name.at(i - 1).isHighSurrogate())
            continue;
        result += name.midRef(plainFrom, i - plainFrom).toUtf8();
        result += char(u - kEscapeBase);
        plainFrom = i + 1;
    }
    result += name.midRef(plainFrom).toUtf8();
    return result;
}

QStringList arguments(int argc, char **argv)
{
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list << fromBytes(QByteArray(argv[i]));
    return list;
}

int openForReading(const QString &path, QString *error)
{
    if (path.isEmpty()) {
        *error = qt_error_string(ENOENT);
        return -1;
    }
    int fd;
    do {
        fd = ::open(toBytes(path).constData(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *error = qt_error_string(errno);
        return -1;
    }
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        *error = qt_error_string(EISDIR);
        return -1;
    }
    return fd;
}

bool openForReading(QFile &file, const QString &path, QString *error)
{
    const int fd = openForReading(path, error);
    if (fd < 0)
        return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        *error = file.errorString();
        ::close(fd);
        return false;
    }
    return true;
}

std::FILE *openStream(const QString &path, QString *error)
{
    const int fd = openForReading(path, error);
    if (fd < 0)
        return nullptr;
    std::FILE *stream = ::fdopen(fd, "rb");
    if (!stream) {
        *error = qt_error_string(errno);
        ::close(fd);
    }
    return stream;
}

bool exists(const QString &path)
{
    struct stat info;
    return !path.isEmpty() && ::stat(toBytes(path).constData(), &info) == 0;
}

bool isDirectory(const QString &path)
{
    struct stat info;
    return !path.isEmpty() && ::stat(toBytes(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool makePath(const QString &path, QString *error)
{
    const QByteArray bytes = toBytes(path);
    // Each folder from the top down; those that exist are passed over.
    for (int end = 1; end <= bytes.size(); ++end) {
        if (end < bytes.size() && bytes.at(end) != '/')
            continue;
        const QByteArray part = bytes.left(end);
        if (::mkdir(part.constData(), 0777) == 0 || errno == EEXIST)
            continue;
        *error = qt_error_string(errno);
        return false;
    }
    if (!isDirectory(path)) {
        *error = qt_error_string(ENOTDIR);
        return false;
    }
    return true;
}

QString absolutePath(const QString &path)
{
    if (path.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(path);
    // The working folder as the system names it, however long.
    QByteArray folder(256, '\0');
    while (!::getcwd(folder.data(), size_t(folder.size()))) {
        if (errno != ERANGE || folder.size() >= (1 << 20))
            return QDir::cleanPath(path);
        folder.resize(folder.size() * 2);
    }
    folder.truncate(int(std::strlen(folder.constData())));
    return QDir::cleanPath(fromBytes(folder) + QLatin1Char('/') + path);
}

QByteArray identity(const QString &path)
{
    struct stat info;
    if (path.isEmpty() || ::stat(toBytes(path).constData(), &info) != 0)
        return QByteArray();
    return QByteArray::number(qulonglong(info.st_dev)) + ':' + QByteArray::number(qulonglong(info.st_ino));
}

} // namespace LutFileNames
