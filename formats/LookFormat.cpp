// The look format (identifier 5, ".look"): an XML document whose
// "LUT" element holds a 3D table and whose "LUT1D" element holds a 1D table,
// each as a "size" and a "data" child. The data is hexadecimal text, 24
// digits per entry: three single-precision floats, each as its four bytes
// in little-endian order ("0000803f" is 1.0). "shaders" and "ASC" elements
// are skipped with everything inside them.
//
// Values above 1.0 are brought into range per channel: each channel of a
// table is divided by the largest value it takes.
//
// The writer writes the 3D table alone, red varying fastest, one entry of
// 24 digits a line: every float as it is held.

#include "lut/LutFileNames.h"
#include "lut/LutScan.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QFile>
#include <QXmlStreamReader>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {


// The text of the token after a start element, when it is character data.
QString nextText(QXmlStreamReader &xml)
{
    xml.readNext();
    return xml.isCharacters() ? xml.text().toString() : QString();
}

int sizeOf(QString text)
{
    text.remove(QLatin1Char('"'));
    return text.toInt(); // 0 when it is not a number
}

// The hex digits of a data text: white space and double quotes dropped,
// anything else kept (a character beyond Latin-1 becomes "?", which the
// decoder refuses).
QByteArray hexDigitsOf(const QString &text)
{
    QByteArray digits;
    digits.reserve(text.size());
    for (const QChar ch : text) {
        if (ch.isSpace() || ch == QLatin1Char('"'))
            continue;
        const ushort u = ch.unicode();
        digits.append(u < 0x80 ? char(u) : '?');
    }
    return digits;
}

// Decodes the entry at index from digits into three floats: each group of
// eight digits is the float's bytes, least significant first.
bool decodeEntry(const QByteArray &digits, qint64 index, float out[3])
{
    const qint64 offset = index * 24;
    if (offset + 24 > digits.size())
        return false;
    for (int k = 0; k < 3; ++k) {
        unsigned char bytes[4];
        if (!hexToBytes(bytes, digits.constData() + offset + 8 * k))
            return false;
        const std::uint32_t bits = std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8
            | std::uint32_t(bytes[2]) << 16 | std::uint32_t(bytes[3]) << 24;
        std::memcpy(&out[k], &bits, sizeof(float));
    }
    return true;
}

// Raises each channel's maximum to the largest finite value of the table.
// Infinities and NaNs leave it alone (they are clamped when stored).
void raiseMaximum(float maximum[3], const float v[3])
{
    for (int k = 0; k < 3; ++k) {
        if (std::isfinite(v[k]) && v[k] > maximum[k])
            maximum[k] = v[k];
    }
}

} // namespace

bool Read_LUTFile::readLook(QString fileName, bool /*headerOnly: always read whole*/)
{
    QFile file;
    QString reason;
    if (!LutFileNames::openForReading(file, fileName, &reason))
        return fail(QStringLiteral("cannot open: %1").arg(reason));
    applyDefaultOrder(LutFormatId::Look);

    QXmlStreamReader xml(&file);
    bool filled3D = false, filled1D = false; // a "data" element was decoded into the table

    // Decodes the 3D table in two passes: the per-channel maxima first, then
    // the entries, normalised against them.
    auto decode3D = [&](const QByteArray &digits) {
        const qint64 count = qint64(size3D) * size3D * size3D;
        float v[3];
        for (qint64 e = 0; e < count; ++e) {
            if (!decodeEntry(digits, e, v))
                return false;
            raiseMaximum(domainMax3D, v);
        }
        const int n = size3D;
        qint64 e = 0;
        for (int a = 0; a < n; ++a) {
            for (int b = 0; b < n; ++b) {
                for (int c = 0; c < n; ++c) {
                    decodeEntry(digits, e++, v);
                    storeEntry3D(a, b, c, v[0], v[1], v[2], domainMin3D, domainMax3D);
                }
            }
        }
        return true;
    };
    auto decode1D = [&](const QByteArray &digits) {
        const LineOrder1D lineOrder(this);
        float v[3];
        for (int i = 0; i < size1D; ++i) {
            if (!decodeEntry(digits, i, v))
                return false;
            raiseMaximum(domainMax1D, v);
        }
        for (int i = 0; i < size1D; ++i) {
            decodeEntry(digits, i, v);
            storeEntry1D(i, v[0], v[1], v[2], domainMin1D, domainMax1D);
        }
        return true;
    };

    // Reads the children of a "LUT" or "LUT1D" element up to its end tag.
    auto readTable = [&](bool is3D) {
        const QString elementName = is3D ? QStringLiteral("LUT") : QStringLiteral("LUT1D");
        while (!xml.atEnd() && !xml.hasError()) {
            xml.readNext();
            if (xml.isEndElement() && xml.name() == elementName)
                return true;
            if (!xml.isStartElement())
                continue;
            if (xml.name() == QLatin1String("size")) {
                const qint64 line = xml.lineNumber();
                const int n = sizeOf(nextText(xml));
                (is3D ? filled3D : filled1D) = false;
                if (n < 1) {
                    // No table at this size; a later "data" is ignored.
                    if (is3D) {
                        table3D.reset();
                        size3D = 0;
                    } else {
                        table1D.reset();
                        size1D = 0;
                    }
                } else if (is3D ? !setSize3D(n, false) : !setSize1D(n, false)) {
                    return fail(QStringLiteral("line %1: %2").arg(line).arg(errorString));
                }
            } else if (xml.name() == QLatin1String("data")) {
                const qint64 line = xml.lineNumber();
                const QString text = nextText(xml);
                if (text.isEmpty() || (is3D ? size3D : size1D) < 1)
                    continue;
                const QByteArray digits = hexDigitsOf(text);
                (is3D ? filled3D : filled1D) = true;
                if (is3D ? !decode3D(digits) : !decode1D(digits)) {
                    if (is3D)
                        resetDomainMax3D();
                    else
                        resetDomainMax1D();
                    return fail(QStringLiteral("line %1: the %2 data is not %3 entries of 24 hexadecimal digits")
                                    .arg(line)
                                    .arg(elementName)
                                    .arg(is3D ? qint64(size3D) * size3D * size3D : qint64(size1D)));
                }
            }
        }
        return true;
    };

    while (!xml.atEnd() && !xml.hasError()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        const QStringRef name = xml.name();
        if (name == QLatin1String("shaders") || name == QLatin1String("ASC")) {
            const QString skipped = name.toString();
            while (!xml.atEnd() && !xml.hasError()) {
                xml.readNext();
                if (xml.isEndElement() && xml.name() == skipped)
                    break;
            }
        } else if (name == QLatin1String("LUT")) {
            if (!readTable(true))
                return false;
        } else if (name == QLatin1String("LUT1D")) {
            if (!readTable(false))
                return false;
        }
    }

    // A malformed document ends the reading; what was read until then counts.
    const QString xmlError = xml.hasError() ? QStringLiteral("line %1: %2").arg(xml.lineNumber()).arg(xml.errorString())
                                            : QString();
    resetDomainMax3D();
    resetDomainMax1D();
    // A table whose "data" never came (or came before its "size") would be
    // all zero: a different LUT.
    if ((size3D >= 1 && !filled3D) || (size1D >= 1 && !filled1D))
        return fail(QStringLiteral("the %1 element has a size but no \"data\" after it")
                        .arg(size3D >= 1 && !filled3D ? QStringLiteral("LUT") : QStringLiteral("LUT1D")));
    if (size3D >= 1 || size1D > 0)
        return true;
    if (!xmlError.isEmpty())
        return fail(QStringLiteral("no LUT read before an XML error: %1").arg(xmlError));
    return fail(QStringLiteral("no \"LUT\" or \"LUT1D\" element with a size"));
}

bool Write_LUTFile::writeLook(QString fileName, Read_LUTFile *lut)
{
    const int n = lut->size3D;
    if (n < 1)
        return fail(QStringLiteral("the LUT holds no 3D table to write"));
    return writeTable3DFile(fileName, lut, LutFormatId::Look, [&](LutTextStream &stream) {
        stream << "<?xml version=\"1.0\" ?>\n<look>\n  <LUT>\n    <size>\"" << n << "\"</size>\n    <data>\"\n";
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                for (int k = 0; k < n; ++k) {
                    stream << "      ";
                    writeLut3DEntryHex(lut->table3D, stream, i, j, k);
                    stream << '\n';
                }
            }
        }
        stream << "    \"</data>\n  </LUT>\n</look>\n";
    });
}

// An XML file whose root is a look element.
bool Read_LUTFile::recognisesLook(const QByteArray &head)
{
    return LutHead::firstContentLine(head).startsWith('<') && head.contains("<look");
}
