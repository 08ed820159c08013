#pragma once

// The XML reading that the XML formats (CLF/CTF process lists, ASC CDL
// files) share: a QXmlStreamReader that refuses a document type declaration
// (which keeps entity expansion out), records the first failure as
// "line N: reason", and walks elements without recursion, so the nesting
// depth a file chooses costs no stack. A reader of a format derives from it
// and reads its elements through next(), readChildren(), readText() and
// skipElement().
//
// The text comes whole, or from a device a block at a time: then a run of
// maxTokenBytes without the end of a token is refused, since the reader
// gathers the whole text of an element (at two bytes a character) before it
// hands it over.

#include <QString>
#include <QXmlStreamReader>

class QIODevice;

class LutXmlReader
{
public:
    QString error;

protected:
    // dtdRefusal: the reason given for a document type declaration.
    LutXmlReader(const QByteArray &text, QString dtdRefusal);
    LutXmlReader(QIODevice *device, qint64 maxTokenBytes, QString dtdRefusal);

    // The next token, feeding the reader as it needs; Invalid (with error
    // set) on a failure.
    QXmlStreamReader::TokenType next();
    // Record "line N: reason" (the first failure only) and return false.
    bool fail(const QString &reason) { return failAt(m_xml.lineNumber(), reason); }
    bool failAt(qint64 line, const QString &reason);
    // Reads past the end of the current element and everything in it.
    bool skipElement();
    // Calls child() at each child element of the current element, up to its
    // end; child reads the element whole (or skips it) and returns false to
    // stop.
    template <typename Child>
    bool readChildren(Child &&child);
    // Hands each piece of the current element's text, up to its end, to
    // take(text) (false stops); a child element is an error.
    template <typename Take>
    bool readText(Take &&take);

    QXmlStreamReader m_xml;

private:
    QIODevice *m_device = nullptr;
    qint64 m_maxTokenBytes = 0;
    qint64 m_fedSinceToken = 0;
    QString m_dtdRefusal;
    bool m_failed = false;
};

template <typename Child>
bool LutXmlReader::readChildren(Child &&child)
{
    for (;;) {
        switch (next()) {
        case QXmlStreamReader::Invalid:
            return false;
        case QXmlStreamReader::EndElement:
            return true;
        case QXmlStreamReader::StartElement:
            if (!child())
                return false;
            break;
        default:
            break;
        }
    }
}

template <typename Take>
bool LutXmlReader::readText(Take &&take)
{
    const QString element = m_xml.name().toString();
    for (;;) {
        switch (next()) {
        case QXmlStreamReader::Invalid:
            return false;
        case QXmlStreamReader::Characters:
            if (!take(m_xml.text()))
                return false;
            break;
        case QXmlStreamReader::EndElement:
            return true;
        case QXmlStreamReader::StartElement:
            return fail(QStringLiteral("<%1> inside <%2>").arg(m_xml.name().toString(), element));
        default:
            break;
        }
    }
}
