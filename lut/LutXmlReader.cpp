#include "lut/LutXmlReader.h"

#include <QIODevice>

namespace {
constexpr qint64 kReadBlock = 1 << 20;
} // namespace

LutXmlReader::LutXmlReader(const QByteArray &text, QString dtdRefusal)
    : m_xml(text), m_dtdRefusal(std::move(dtdRefusal))
{
}

LutXmlReader::LutXmlReader(QIODevice *device, qint64 maxTokenBytes, QString dtdRefusal)
    : m_device(device), m_maxTokenBytes(maxTokenBytes), m_dtdRefusal(std::move(dtdRefusal))
{
}

bool LutXmlReader::failAt(qint64 line, const QString &reason)
{
    if (!m_failed)
        error = QStringLiteral("line %1: %2").arg(line).arg(reason);
    m_failed = true;
    return false;
}

QXmlStreamReader::TokenType LutXmlReader::next()
{
    for (;;) {
        const QXmlStreamReader::TokenType token = m_xml.readNext();
        if (token != QXmlStreamReader::Invalid || m_xml.error() != QXmlStreamReader::PrematureEndOfDocumentError
            || !m_device || m_device->atEnd()) {
            m_fedSinceToken = 0;
            if (token == QXmlStreamReader::Invalid)
                fail(m_xml.errorString());
            else if (token == QXmlStreamReader::DTD)
                fail(m_dtdRefusal);
            return m_failed ? QXmlStreamReader::Invalid : token;
        }
        if (m_fedSinceToken > m_maxTokenBytes) {
            fail(QStringLiteral("more than %1 MiB of text without a tag").arg(m_maxTokenBytes >> 20));
            return QXmlStreamReader::Invalid;
        }
        const QByteArray block = m_device->read(kReadBlock);
        if (block.isEmpty()) {
            fail(QStringLiteral("read error: %1").arg(m_device->errorString()));
            return QXmlStreamReader::Invalid;
        }
        m_fedSinceToken += block.size();
        m_xml.addData(block);
    }
}

bool LutXmlReader::skipElement()
{
    // Counted rather than recursive: nesting depth is the file's to choose.
    for (qint64 depth = 1; depth > 0;) {
        const QXmlStreamReader::TokenType token = next();
        if (token == QXmlStreamReader::Invalid)
            return false;
        depth += token == QXmlStreamReader::StartElement ? 1 : token == QXmlStreamReader::EndElement ? -1 : 0;
    }
    return true;
}
