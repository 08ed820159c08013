#pragma once

#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QTextStream>

#include <memory>

// The one way every text writer produces its file.
//
// A regular file is written through QSaveFile: the text goes to a temporary
// file that replaces the target only when commit() succeeds, so a failed
// write never leaves a truncated LUT behind. Anything else that already
// exists under the name (a device such as /dev/null, a FIFO) is opened and
// written in place, since it cannot be replaced. The name "-" stands for
// standard output.
class LutTextOutput
{
public:
    explicit LutTextOutput(const QString &path);
    ~LutTextOutput();

    bool open();
    QTextStream &stream() { return m_stream; }
    // The open device itself, for writers of binary files (LUT images).
    QIODevice *device() const { return m_device.get(); }
    // Flushes the stream and puts the file in place; false when any write failed.
    bool commit();
    // Why open or commit failed, in the system's words ("No space left on device").
    QString errorString() const;

private:
    QString m_path;
    QString m_error; // set where the device has no reason of its own
    std::unique_ptr<QFileDevice> m_device;
    QTextStream m_stream;
};
