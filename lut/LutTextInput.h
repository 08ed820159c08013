#pragma once

#include <QFile>
#include <QString>

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

    // Opens the file for reading and logs "file:-----" with its name.
    bool open(const QString &path);
    bool isOpen() const { return m_file.isOpen(); }
    void close();

    bool atEnd() const;
    // The next line; an empty string at the end of the file.
    QString readLine();
    // The next line as raw bytes (no decoding), for readers that only scan numbers.
    QByteArray readRawLine();
    // Goes back to the first line.
    bool rewind();

    // 1-based number of the line last returned by readLine/readRawLine.
    qint64 lineNumber() const { return m_lineNumber; }
    // Why open failed, in the system's words ("Is a directory").
    QString errorString() const { return m_error.isEmpty() ? m_file.errorString() : m_error; }
    QString path() const { return m_file.fileName(); }

private:
    // Reads more of the file behind what is left in the buffer; false at
    // the end of the file.
    bool fill() const;

    // The file is read in large blocks and split at line ends here, which is
    // much cheaper than asking the device for one line at a time.
    mutable QFile m_file;
    QString m_error; // set where the file has no reason of its own
    mutable QByteArray m_buffer;
    mutable int m_begin = 0; // first unread byte of the buffer
    mutable int m_end = 0;   // one past the last byte read into the buffer
    mutable bool m_eof = false;
    qint64 m_lineNumber = 0;
};
