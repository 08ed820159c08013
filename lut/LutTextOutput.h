#pragma once

#include <QByteArray>
#include <QFile>
#include <QLatin1String>
#include <QString>
#include <QTextStream>

#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>

// The stream every text writer writes through. Text is gathered as UTF-8 in
// one buffer and handed to the device in large blocks; numbers are formatted
// straight into that buffer, with no stream or string object per number.
//
// It writes the bytes a QTextStream with the UTF-8 codec writes for the same
// insertions: char and const char * text is Latin-1, QString and QByteArray
// text is UTF-8, integers are plain decimals, and reals follow the notation
// and precision set (smart notation with precision 6 to begin with, as
// printf's "%g"; fixed as "%.Nf"; scientific as "%.Ne"; any NaN as "nan").
// Reals are printf's forms throughout, which the toolkit's stream gives as
// well, but for a negative zero ("-0") and a precision of 0.
//
// Without a device the text stays in memory (text()), which is how blocks of
// a table are formatted apart from the file and spliced in with write().
class LutTextStream
{
public:
    using RealNumberNotation = QTextStream::RealNumberNotation;

    explicit LutTextStream(QIODevice *device = nullptr);
    ~LutTextStream();
    LutTextStream(const LutTextStream &) = delete;
    LutTextStream &operator=(const LutTextStream &) = delete;

    LutTextStream &operator<<(char c)
    {
        if (static_cast<signed char>(c) < 0)
            return latin1(c);
        *reserve(1) = c;
        ++m_used;
        return *this;
    }
    LutTextStream &operator<<(const char *latin1);
    LutTextStream &operator<<(QLatin1String latin1);
    LutTextStream &operator<<(const QString &text);
    LutTextStream &operator<<(const QByteArray &utf8);
    LutTextStream &operator<<(int v) { return integer(v); }
    LutTextStream &operator<<(unsigned v) { return integer(v); }
    LutTextStream &operator<<(long v) { return integer(v); }
    LutTextStream &operator<<(unsigned long v) { return integer(v); }
    LutTextStream &operator<<(long long v) { return integer(v); }
    LutTextStream &operator<<(unsigned long long v) { return integer(v); }
    LutTextStream &operator<<(double v);
    LutTextStream &operator<<(float v) { return *this << double(v); }

    void setRealNumberNotation(RealNumberNotation notation) { m_notation = notation; }
    RealNumberNotation realNumberNotation() const { return m_notation; }
    void setRealNumberPrecision(int precision) { m_precision = precision < 0 ? 6 : precision; }
    int realNumberPrecision() const { return m_precision; }

    // Room for n more bytes at the end of the text: write up to n bytes at
    // the pointer returned, then keep the ones written with commit(end).
    char *reserve(int n) { return m_used + size_t(n) <= m_capacity ? m_data + m_used : makeRoom(n); }
    void commit(char *end) { m_used = size_t(end - m_data); }
    void append(const char *data, qint64 size);
    void append(const QByteArray &bytes) { append(bytes.constData(), bytes.size()); }
    // append() for a large block: with a device the block goes to it
    // straight after the text gathered so far, without a copy.
    void write(const char *data, qint64 size);

    // Hands the gathered text to the device; false when any write failed.
    bool flush();
    // Drops the text not yet handed to the device.
    void discard() { m_used = 0; }
    // The text gathered so far without a device.
    QByteArray text() const { return QByteArray(m_data, int(m_used)); }
    const char *data() const { return m_data; }
    qint64 size() const { return qint64(m_used); }

private:
    template <typename T>
    LutTextStream &integer(T v);
    // A Latin-1 character above ASCII, as two bytes of UTF-8.
    LutTextStream &latin1(char c);
    // Flushes or grows the buffer so that n more bytes fit.
    char *makeRoom(int n);

    QIODevice *m_device;
    char *m_data = nullptr; // the buffer, from LutMemory
    size_t m_capacity = 0;
    size_t m_used = 0;
    bool m_failed = false;
    RealNumberNotation m_notation = QTextStream::SmartNotation;
    int m_precision = 6;
};

template <typename T>
LutTextStream &LutTextStream::integer(T v)
{
    char *out = reserve(24);
    commit(std::to_chars(out, out + 24, v).ptr);
    return *this;
}

class LutOutputDevice;

// The one way every writer produces its file.
//
// A regular file is written to a temporary file beside it (under the
// target's own bytes, see LutFileNames) that replaces the target only when
// commit() succeeds: a failed write never leaves a truncated file behind,
// and the old file stays. A symbolic link is followed, so the file it points
// at is replaced and the link stays; a new file gets the permissions the
// umask allows, a replaced one keeps its own. Anything else that already
// exists under the name (a device such as /dev/null, a FIFO) is written in
// place, since it cannot be replaced. The name "-" stands for standard
// output.
//
// Every byte goes to the system through one device that keeps the system's
// reason for the first write that failed ("No space left on device",
// "Broken pipe"); after that every write fails, and commit() fails with that
// reason, whatever the writer on top noticed of it.
class LutTextOutput
{
public:
    explicit LutTextOutput(const QString &path);
    ~LutTextOutput();

    bool open();
    LutTextStream &stream() { return *m_stream; }
    // The open device itself, for writers of binary files (images). It can
    // seek when the output is a regular file.
    QIODevice *device() const;
    // Flushes the stream and puts the file in place; false when any write failed.
    bool commit();
    // Why open or commit failed, in the system's words ("No space left on device").
    QString errorString() const;

private:
    // Drops the temporary file, if any.
    void discard();

    QString m_path;
    QString m_error;
    QByteArray m_target;    // the file a commit replaces (a link's target)
    QByteArray m_temporary; // the file written until then; empty when written in place
    bool m_deferSync = false; // a LutSyncRound writes the file to disk
    std::unique_ptr<LutOutputDevice> m_device;
    std::unique_ptr<LutTextStream> m_stream;
};

// While one lives, the files LutTextOutput commits are put in place
// (renamed over their targets) without waiting for the disk, and finish()
// then writes them all to disk in one round: one syncfs per file system
// written to, which covers the files' data and the renames, instead of an
// fsync per file. Each file still replaces its target whole: the rename
// comes after the file is written and closed, so a reader, or a run cut
// short, sees the old file or the new one. Outputs written in place (a
// device, standard output) are synced when committed, as without a round.
// Rounds do not nest; commits may come from any thread.
class LutSyncRound
{
public:
    LutSyncRound();
    // Finishes the round if finish() was not called, dropping its result.
    ~LutSyncRound();
    LutSyncRound(const LutSyncRound &) = delete;
    LutSyncRound &operator=(const LutSyncRound &) = delete;

    // Writes what the round committed to disk. False when a file system
    // reports a failure: file is then an output committed on it, reason the
    // system's words.
    bool finish(QString *file, QString *reason);

private:
    bool m_finished = false;
};

// Formats v as printf formats a double: FixedNotation as "%.<precision>f",
// ScientificNotation as "%.<precision>e", SmartNotation as "%.<precision>g"
// ("nan", "-nan", "inf" and "-inf" for the non-finite). Returns the number
// of characters written to buffer (at most 64 are needed for precision 6
// and any finite float; longer results are cut).
int formatLutReal(char *buffer, int capacity, double v, QTextStream::RealNumberNotation notation,
                  int precision);

// "%.6f" of a float into buffer (at least 32 bytes), exactly as
// formatLutReal gives it, by integer arithmetic. Returns the length, or 0
// when the value is not finite or too large for this path.
inline int formatFixed6(char *buffer, float value)
{
    // A float has 24 significant bits and 10^6 needs 14 beyond its factor
    // 2^6, so value x 10^6 is exact in a double. Rounding that to an integer,
    // ties to even as printf rounds the exact binary value, gives printf's
    // digits. Below 2^52, adding and taking away 2^52 is that rounding (in
    // the default rounding mode), without a call into the maths library.
    constexpr double kTwo52 = 4503599627370496.0;
    const double scaled = std::fabs(double(value) * 1e6);
    if (!(scaled < kTwo52))
        return 0; // also a NaN
    const unsigned long long units = (unsigned long long)(long long)((scaled + kTwo52) - kTwo52);
    static const char pairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                                "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                                "8081828384858687888990919293949596979899";
    char *p = buffer;
    if (std::signbit(value))
        *p++ = '-';
    unsigned fraction;
    if (units < 10000000) {
        // One digit before the point: all of it in 32-bit arithmetic.
        const unsigned u = unsigned(units);
        const unsigned whole = u / 1000000;
        fraction = u - whole * 1000000;
        *p++ = char('0' + whole);
    } else {
        const unsigned long long whole = units / 1000000;
        fraction = unsigned(units - whole * 1000000);
        p = std::to_chars(p, p + 24, whole).ptr;
    }
    *p = '.';
    // Two digits at a time from a fixed-point fraction: the first pair is
    // fraction / 10^4 (the multiplier is 2^32 / 10^4 rounded up), each next
    // pair the fraction left times 100. Exact for every fraction below 10^6.
    unsigned long long t = (unsigned long long)fraction * 429497u;
    std::memcpy(p + 1, pairs + 2 * (t >> 32), 2);
    t = (t & 0xFFFFFFFFu) * 100u;
    std::memcpy(p + 3, pairs + 2 * (t >> 32), 2);
    t = (t & 0xFFFFFFFFu) * 100u;
    std::memcpy(p + 5, pairs + 2 * (t >> 32), 2);
    return int(p + 7 - buffer);
}
