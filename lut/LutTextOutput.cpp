#include "lut/LutTextOutput.h"

#include <QFileInfo>

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
    if (m_path.isEmpty() || info.isDir())
        return false;
    if (info.exists() && !info.isFile())
        m_device = std::make_unique<QFile>(m_path);
    else
        m_device = std::make_unique<QSaveFile>(m_path);
    if (!m_device->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    m_stream.setDevice(m_device.get());
    m_stream.setCodec("UTF-8");
    return true;
}

bool LutTextOutput::commit()
{
    if (!m_device || !m_device->isOpen())
        return false;
    m_stream.flush();
    if (m_stream.status() != QTextStream::Ok)
        return false;
    m_stream.setDevice(nullptr);
    if (auto *save = dynamic_cast<QSaveFile *>(m_device.get()))
        return save->commit();
    const bool ok = m_device->error() == QFileDevice::NoError;
    m_device->close();
    return ok;
}

QString LutTextOutput::errorString() const
{
    if (!m_device)
        return m_path.isEmpty() ? QStringLiteral("no file name") : QStringLiteral("is a directory");
    return m_device->errorString();
}
