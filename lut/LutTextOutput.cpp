#include "lut/LutTextOutput.h"

#include <QFileInfo>

#include <cerrno>

LutTextOutput::LutTextOutput(const QString &path)
    : m_path(path)
{
}

LutTextOutput::~LutTextOutput()
{
    // An uncommitted QSaveFile discards its temporary file here.
    m_stream.setDevice(nullptr);
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
    m_stream.setDevice(m_device.get());
    m_stream.setCodec("UTF-8");
    return true;
}

bool LutTextOutput::commit()
{
    if (!m_device || !m_device->isOpen())
        return false;
    m_stream.flush();
    const bool streamed = m_stream.status() == QTextStream::Ok;
    m_stream.setDevice(nullptr);
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
