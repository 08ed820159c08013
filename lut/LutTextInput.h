#pragma once

#include "lut/LutMemory.h"
#include "lut/LutParallel.h"

#include <QFile>
#include <QString>

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

// Line-by-line reading of a LUT text file, shared by every text reader.
//
// Lines come without their line end (LF or CR LF), and a UTF-8 byte-order
// mark at the start of the file is dropped, so such files read like plain
// ones. Text is decoded as UTF-8 whatever the process locale, so a file
// reads the same under every locale. A line longer than kMaxLineLength bytes
// is cut there (the rest of it is skipped): binary junk without line ends
// cannot make a reader hold the whole file in one string.
class LutTextInput
{
public:
    static constexpr int kMaxLineLength = 1 << 20;

    LutTextInput() = default;
    explicit LutTextInput(const QString &path);
    ~LutTextInput();
    LutTextInput(const LutTextInput &) = delete;
    LutTextInput &operator=(const LutTextInput &) = delete;

    // Opens the file for reading and logs "file:-----" with its name.
    bool open(const QString &path);
    bool isOpen() const { return m_file.isOpen(); }
    void close();

    bool atEnd() const;
    // The next line; an empty string at the end of the file.
    QString readLine();
    // The next line as raw bytes (no decoding), for readers that only scan numbers.
    QByteArray readRawLine();
    // The next line as raw bytes with the blanks at both ends removed (as
    // QByteArray::trimmed() removes them), into line, whose memory is reused
    // from one line to the next. False, with line empty, at the end.
    bool readTrimmedLine(QByteArray &line);
    // Goes back to the first line.
    bool rewind();

    // Reading a block of lines at a time. peekLines gives the whole lines
    // ahead, at most maxBytes of them (the last line of the file may lack
    // its line end), without moving on; consumeLines then moves on by bytes
    // and lines of it. The block is empty when the next line must be read
    // alone (it is the first of the file, whose byte-order mark the line
    // readers drop, or too long for a block). False at the end of the file.
    // A block's lines, trimmed, are what readTrimmedLine gives.
    bool peekLines(int maxBytes, const char **data, int *size);
    void consumeLines(int bytes, qint64 lines);

    // The lines ahead, a block at a time: parse(line, parsed) fills one
    // Parsed per trimmed line, then take(parsed) gets them in file order on
    // the calling thread, until it returns false; the lines after that one
    // stay unread. With parallel set, parse runs over a large block on
    // several threads, with a line valid during the call only and not
    // followed by a NUL, and may run on lines beyond the one that stops take;
    // otherwise each line is a copy that ends in a NUL and parse runs right
    // before take, line by line. blockBytes() tells the size of the next
    // block. The three are called as functions: void parse(const QByteArray
    // &, Parsed &), bool take(const Parsed &), int blockBytes(). True when
    // take stopped, false at the end of the file.
    template <typename Parsed, typename BlockBytes, typename Parse, typename Take>
    bool readLines(bool parallel, BlockBytes blockBytes, Parse parse, Take take);
    // The same, where the lines of a block parsed on several threads may
    // also be taken on several threads, part by part, when split allows it
    // (what a split does is told above LutTextLines::NoSplit); take gets
    // the blocks it does not allow.
    template <typename Parsed, typename BlockBytes, typename Parse, typename Take, typename Split>
    bool readLines(bool parallel, BlockBytes blockBytes, Parse parse, Take take, Split &split);

    // 1-based number of the line last returned by readLine/readRawLine.
    qint64 lineNumber() const { return m_lineNumber; }
    // Why open failed, in the system's words ("Is a directory").
    QString errorString() const { return m_error.isEmpty() ? m_file.errorString() : m_error; }
    QString path() const { return m_path; }

private:
    // Reads more of the file behind what is left in the buffer; false at
    // the end of the file.
    bool fill() const;
    // Reads up to room bytes of the file into data, as QFile::read.
    qint64 readInto(char *data, qint64 room) const;
    // The next line, without its line end, as bytes that stay valid until
    // the next read; false at the end of the file.
    bool nextLine(const char **data, int *size);

    // The file is read in large blocks and split at line ends here, which is
    // much cheaper than asking the device for one line at a time.
    mutable QFile m_file;
    QString m_path;
    QString m_error; // set where the file has no reason of its own
    mutable char *m_buffer = nullptr; // from LutMemory: kMaxLineLength and two blocks, or a short file's length
    mutable int m_capacity = 0;
    mutable int m_begin = 0; // first unread byte of the buffer
    mutable int m_end = 0;   // one past the last byte read into the buffer
    mutable bool m_eof = false;
    qint64 m_lineNumber = 0;
    QByteArray m_cut; // the kept part of an over-long line
};

namespace LutTextLines {

// The blanks of QByteArray::trimmed(): space, \t, \n, \v, \f and \r.
inline bool isBlank(char c)
{
    return c == ' ' || unsigned(c - '\t') <= unsigned('\r' - '\t');
}

// Moves start and stop inwards past the blanks at both ends.
inline void trim(const char *&start, const char *&stop)
{
    while (start < stop && isBlank(*start))
        ++start;
    while (stop > start && isBlank(stop[-1]))
        --stop;
}

// Calls take(line, next) for each line of block[from, to) (whole lines),
// trimmed, with the offset of the line after it, until take returns false.
// The line is a copy in line (copy set) or line's bytes are the block's.
template <typename Take>
void forEach(const char *block, int from, int to, QByteArray &line, bool copy, Take take)
{
    for (int p = from; p < to;) {
        const char *start = block + p;
        const char *newline = static_cast<const char *>(std::memchr(start, '\n', size_t(to - p)));
        const char *stop = newline ? newline : block + to;
        const int next = newline ? int(newline - block) + 1 : to;
        trim(start, stop);
        const int size = int(stop - start);
        if (copy) {
            line.resize(size);
            std::memcpy(line.data(), start, size_t(size));
        } else {
            line.setRawData(start, uint(size));
        }
        if (!take(static_cast<const QByteArray &>(line), next))
            return;
        p = next;
    }
}

// Blocks smaller than this are parsed on one thread.
constexpr int kParallelBlock = 1 << 16;

// A line parsed ahead, with where the line after it starts in its block.
template <typename Parsed>
struct ParsedLine
{
    int next;
    Parsed parsed;
};

// What a split took of one part of a block.
struct PartTaken
{
    qint64 lines = 0;     // lines taken, the one that stopped included
    qint64 items = 0;     // items they gave
    bool stopped = false; // the part held the last item wanted
    qint64 last = -1;     // the last of its lines that gave an item; -1: none
};

// A take that can run on the parts of a block side by side, for lines that
// each give a known number of items (the entries of a table, say), each
// stored where its number says. readLines asks it, for every line as it is
// parsed, how many items the line gives (-1: the line must go through take,
// in order with the others, and so must its block), and when no line of a
// block says -1, gives each part its lines with the number of the part's
// first item, counted from the block's first, on a thread of its own:
//   int items(const Parsed &) const;
//   PartTaken takePart(qint64 firstItem, const ParsedLine<Parsed> *lines, qint64 count);
//   void taken(qint64 items, const Parsed *last); // after the block, on the calling thread
// takePart takes every line unless one holds the last item wanted; parts
// after that one may be given their lines too, and must take nothing.
// NoSplit allows no block: every line goes through take.
struct NoSplit
{
};

} // namespace LutTextLines

template <typename Parsed, typename BlockBytes, typename Parse, typename Take>
bool LutTextInput::readLines(bool parallel, BlockBytes blockBytes, Parse parse, Take take)
{
    LutTextLines::NoSplit none;
    return readLines<Parsed>(parallel, blockBytes, parse, take, none);
}

template <typename Parsed, typename BlockBytes, typename Parse, typename Take, typename Split>
bool LutTextInput::readLines(bool parallel, BlockBytes blockBytes, Parse parse, Take take, Split &split)
{
    constexpr bool kSplit = !std::is_same<Split, LutTextLines::NoSplit>::value;
    using Line = LutTextLines::ParsedLine<Parsed>;
    QByteArray copy;
    copy.reserve(256);
    using Lines = std::vector<Line, LutMemory::Allocator<Line>>;
    std::vector<Lines> parts;
    for (;;) {
        const char *block = nullptr;
        int size = 0;
        if (!peekLines(blockBytes(), &block, &size))
            return false;
        if (size == 0) {
            readTrimmedLine(copy);
            Parsed parsed;
            parse(copy, parsed);
            if (!take(parsed))
                return true;
            continue;
        }
        if (!parallel) {
            int consumed = 0;
            qint64 lines = 0;
            bool stopped = false;
            LutTextLines::forEach(block, 0, size, copy, true, [&](const QByteArray &line, int next) {
                Parsed parsed;
                parse(line, parsed);
                stopped = !take(parsed);
                consumed = next;
                ++lines;
                return !stopped;
            });
            consumeLines(consumed, lines);
            if (stopped)
                return true;
            continue;
        }
        // Parts that start at line starts, parsed side by side, then taken in order.
        const int count = size >= LutTextLines::kParallelBlock ? LutParallel::threads() : 1;
        std::vector<int> starts(size_t(count) + 1, size);
        starts[0] = 0;
        for (int t = 1; t < count; ++t) {
            int p = qMax(starts[size_t(t) - 1], int(qint64(size) * t / count));
            while (p < size && block[p - 1] != '\n')
                ++p;
            starts[size_t(t)] = p;
        }
        parts.resize(size_t(count));
        // Per part: the items its lines give, and whether one must be taken in order.
        std::vector<qint64> partItems(size_t(count), 0);
        std::vector<char> partInOrder(size_t(count), 0);
        LutParallel::forRanges(count, 1, [&](qint64 first, qint64 end) {
            QByteArray line = QByteArray::fromRawData(block, 0);
            for (qint64 t = first; t < end; ++t) {
                // The part's lines grow in a vector of this thread's own: the
                // vectors side by side in parts share cache lines, and every
                // line added on one thread would take them from the others.
                Lines lines = std::move(parts[size_t(t)]);
                lines.clear();
                // Room for the lines at once (a line of numbers takes more
                // than 8 bytes): growing step by step would touch fresh
                // memory at every step.
                lines.reserve(size_t(starts[size_t(t) + 1] - starts[size_t(t)]) / 8 + 1);
                qint64 items = 0;
                bool inOrder = false;
                LutTextLines::forEach(block, starts[size_t(t)], starts[size_t(t) + 1], line, false,
                                      [&](const QByteArray &text, int next) {
                                          lines.push_back(Line{next, Parsed()});
                                          parse(text, lines.back().parsed);
                                          if constexpr (kSplit) {
                                              const int n = split.items(lines.back().parsed);
                                              inOrder = inOrder || n < 0;
                                              items += n;
                                          }
                                          return true;
                                      });
                parts[size_t(t)] = std::move(lines);
                partItems[size_t(t)] = items;
                partInOrder[size_t(t)] = inOrder;
            }
        });
        if constexpr (kSplit) {
            if (count > 1 && std::find(partInOrder.begin(), partInOrder.end(), 1) == partInOrder.end()) {
                // Each part is taken on a thread of its own, its items numbered
                // after those of the parts before it; the first part that
                // holds the last item wanted ends the block there.
                std::vector<qint64> firstItems(size_t(count), 0);
                for (int t = 1; t < count; ++t)
                    firstItems[size_t(t)] = firstItems[size_t(t) - 1] + partItems[size_t(t) - 1];
                std::vector<LutTextLines::PartTaken> results(static_cast<size_t>(count));
                LutParallel::forRanges(count, 1, [&](qint64 first, qint64 end) {
                    for (qint64 t = first; t < end; ++t)
                        results[size_t(t)] = split.takePart(firstItems[size_t(t)], parts[size_t(t)].data(),
                                                            qint64(parts[size_t(t)].size()));
                });
                int consumed = size;
                qint64 lines = 0;
                qint64 items = 0;
                const Parsed *last = nullptr;
                bool stopped = false;
                for (int t = 0; t < count && !stopped; ++t) {
                    const LutTextLines::PartTaken &taken = results[size_t(t)];
                    const Lines &part = parts[size_t(t)];
                    lines += taken.lines;
                    items += taken.items;
                    if (taken.last >= 0)
                        last = &part[size_t(taken.last)].parsed;
                    if (taken.stopped) {
                        consumed = taken.lines > 0 ? part[size_t(taken.lines) - 1].next : starts[size_t(t)];
                        stopped = true;
                    }
                }
                split.taken(items, last);
                consumeLines(consumed, lines);
                if (stopped)
                    return true;
                continue;
            }
        }
        int consumed = size;
        qint64 lines = 0;
        bool stopped = false;
        for (const Lines &part : parts) {
            for (const Line &line : part) {
                ++lines;
                if (!take(line.parsed)) {
                    consumed = line.next;
                    stopped = true;
                    break;
                }
            }
            if (stopped)
                break;
        }
        consumeLines(consumed, lines);
        if (stopped)
            return true;
    }
}
