#include "lut/LutTextInput.h"

#include <QDebug>
#include <QFileInfo>

LutTextInput::LutTextInput(const QString &path)
{
    open(path);
}

bool LutTextInput::open(const QString &path)
{
    m_file.close();
    m_file.setFileName(path);
    m_lineNumber = 0;
    qDebug() << "file:-----" << path;
    if (QFileInfo(path).isDir())
        return false;
    return m_file.open(QIODevice::ReadOnly);
}

bool LutTextInput::atEnd() const
{
    return !m_file.isOpen() || m_file.atEnd();
}

QByteArray LutTextInput::readRawLine()
{
    if (m_buffer.size() < kMaxLineLength + 2)
        m_buffer.resize(kMaxLineLength + 2);
    qint64 n = m_file.readLine(m_buffer.data(), m_buffer.size());
    if (n <= 0)
        return QByteArray();
    ++m_lineNumber;
    bool complete = m_buffer[int(n - 1)] == '\n';
    if (!complete) {
        // Skip the rest of an over-long line.
        char skip[4096];
        qint64 k;
        while ((k = m_file.readLine(skip, sizeof skip)) > 0) {
            if (skip[k - 1] == '\n')
                break;
        }
    }
    int length = int(n);
    if (complete)
        --length;
    if (length > 0 && m_buffer[length - 1] == '\r')
        --length;
    int start = 0;
    if (m_lineNumber == 1 && length >= 3 && uchar(m_buffer[0]) == 0xEF && uchar(m_buffer[1]) == 0xBB
        && uchar(m_buffer[2]) == 0xBF)
        start = 3;
    return QByteArray(m_buffer.constData() + start, length - start);
}

QString LutTextInput::readLine()
{
    return QString::fromUtf8(readRawLine());
}

bool LutTextInput::rewind()
{
    m_lineNumber = 0;
    return m_file.seek(0);
}
