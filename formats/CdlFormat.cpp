// The ASC CDL files (identifiers 20 to 22): a ColorCorrection (".cc"), a
// ColorCorrectionCollection of them (".ccc") and a ColorDecisionList whose
// ColorDecisions hold them (".cdl"), all XML. A ColorCorrection holds a
// SOPNode (Slope, Offset and Power, three numbers each) and a SatNode (one
// Saturation; older files call it SATNode), either of which may be missing.
//
// The three readers are one: each takes a file of any of the three roots
// and the ColorCorrection that --cccid names (an id, else a position from
// 0), or the first. The grade (LutCdl, evaluated with the two clamps of the
// ASC's version 1.2) is the file's whole transform: it is recorded as
// meaning.evaluate, which a conversion bakes on the output's lattice. With
// no --size that is 33 points per axis for a grade with saturation, the
// lattice colourists exchange cubes on, and 4096 entries for a 1D output of
// one without (its channels stay apart).
//
// The writer writes a .cc file for a LUT whose transform is a grade (one
// read from a CDL file), with every number in the fewest digits that read
// back as the very double; a table is refused.

#include "lut/LutCdl.h"
#include "lut/LutScan.h"
#include "lut/LutTextOutput.h"
#include "lut/LutXmlReader.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QFile>
#include <QFileInfo>

#include <charconv>
#include <memory>
#include <vector>

namespace {

// Grades are a few hundred bytes each; a collection of many thousands fits.
constexpr qint64 kMaxFileBytes = qint64(16) << 20;

// The 3D lattice and the 1D length a grade is baked on without --size.
constexpr int kBakeSize3D = 33;
constexpr int kBakeSize1D = 4096;

struct Correction
{
    LutCdl cdl;
    qint64 line = 0;
};

// Reads every ColorCorrection of a CDL document, at any depth below its
// root, in file order.
class CdlParser : LutXmlReader
{
public:
    explicit CdlParser(const QByteArray &text)
        : LutXmlReader(text, QStringLiteral("a document type declaration is not accepted in a CDL file"))
    {
    }

    bool parse();
    std::vector<Correction> corrections;
    using LutXmlReader::error;

private:
    // The text of the current element up to its end.
    bool readText(QString *text)
    {
        return LutXmlReader::readText([text](const QStringRef &piece) {
            *text += piece;
            return true;
        });
    }
    // Exactly count numbers in the current element's text.
    bool readNumbers(double *numbers, int count);
    bool parseCorrection();
    bool parseSop(LutCdl &cdl);
    bool parseSat(LutCdl &cdl);
};

bool CdlParser::readNumbers(double *numbers, int count)
{
    const QString element = m_xml.name().toString();
    const qint64 line = m_xml.lineNumber();
    QString text;
    if (!readText(&text))
        return false;
    const QStringList fields = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (fields.size() != count)
        return failAt(line, QStringLiteral("<%1> holds %2 numbers, not %3").arg(element).arg(fields.size()).arg(count));
    for (int i = 0; i < count; ++i) {
        // The "|" after the field must follow the number at once, so that a
        // field with anything else in it ("0.5x") is no number.
        const QByteArray field = fields[i].toLatin1() + "|0";
        int tail = 0;
        if (fields[i].size() > 64 || LutScan::scan(field, "%lf|%d", &numbers[i], &tail) != 2)
            return failAt(line, QStringLiteral("<%1>: \"%2\" is not a number").arg(element, fields[i].left(64)));
    }
    return true;
}

bool CdlParser::parse()
{
    QXmlStreamReader::TokenType token = next();
    for (; token != QXmlStreamReader::StartElement; token = next()) {
        if (token == QXmlStreamReader::Invalid)
            return false;
        if (token == QXmlStreamReader::EndDocument)
            return fail(QStringLiteral("no ColorCorrection, ColorCorrectionCollection or ColorDecisionList element"));
    }
    const QStringRef root = m_xml.name();
    const qint64 rootLine = m_xml.lineNumber();
    if (root == QLatin1String("ColorCorrection")) {
        if (!parseCorrection())
            return false;
    } else if (root == QLatin1String("ColorCorrectionCollection") || root == QLatin1String("ColorDecisionList")) {
        // The corrections stand in the collection, or each in a
        // ColorDecision of the list; whatever else there is (descriptions,
        // media references) says nothing about the grades.
        for (qint64 depth = 1; depth > 0;) {
            token = next();
            if (token == QXmlStreamReader::Invalid)
                return false;
            if (token == QXmlStreamReader::EndElement) {
                --depth;
            } else if (token == QXmlStreamReader::StartElement) {
                if (m_xml.name() == QLatin1String("ColorCorrection")) {
                    if (!parseCorrection())
                        return false;
                } else {
                    ++depth;
                }
            }
        }
    } else {
        return fail(QStringLiteral("the root element is <%1>, not <ColorCorrection>, <ColorCorrectionCollection> "
                                   "or <ColorDecisionList>")
                        .arg(root.toString()));
    }
    if (corrections.empty())
        return failAt(rootLine, QStringLiteral("the file holds no ColorCorrection (a ColorCorrectionRef is not "
                                               "followed)"));
    // Nothing but comments and white space may follow the root element.
    for (token = next(); token != QXmlStreamReader::EndDocument; token = next()) {
        if (token == QXmlStreamReader::Invalid)
            return false;
    }
    return true;
}

bool CdlParser::parseCorrection()
{
    Correction correction;
    correction.line = m_xml.lineNumber();
    LutCdl &cdl = correction.cdl;
    cdl.id = m_xml.attributes().value(QLatin1String("id")).toString();
    bool sop = false, sat = false;
    const bool read = readChildren([&] {
        const QStringRef name = m_xml.name();
        if (name == QLatin1String("SOPNode")) {
            if (sop)
                return fail(QStringLiteral("a second <SOPNode>"));
            sop = true;
            return parseSop(cdl);
        }
        if (name == QLatin1String("SatNode") || name == QLatin1String("SATNode")) {
            if (sat)
                return fail(QStringLiteral("a second <%1>").arg(name.toString()));
            sat = true;
            return parseSat(cdl);
        }
        if (name == QLatin1String("Description") && cdl.description.isEmpty()) {
            QString text;
            if (!readText(&text))
                return false;
            cdl.description = text.simplified();
            return true;
        }
        return skipElement();
    });
    if (!read)
        return false;
    const QString problem = cdl.problem();
    if (!problem.isEmpty())
        return failAt(correction.line, QStringLiteral("ColorCorrection \"%1\": %2").arg(cdl.id, problem));
    corrections.push_back(std::move(correction));
    return true;
}

bool CdlParser::parseSop(LutCdl &cdl)
{
    const qint64 line = m_xml.lineNumber();
    bool slope = false, offset = false, power = false;
    const bool read = readChildren([&] {
        const QStringRef name = m_xml.name();
        const struct
        {
            const char *name;
            double *values;
            bool *seen;
        } parts[] = {{"Slope", cdl.slope, &slope}, {"Offset", cdl.offset, &offset}, {"Power", cdl.power, &power}};
        for (const auto &part : parts) {
            if (name == QLatin1String(part.name)) {
                *part.seen = true;
                return readNumbers(part.values, 3);
            }
        }
        if (name == QLatin1String("Description") && cdl.description.isEmpty()) {
            QString text;
            if (!readText(&text))
                return false;
            cdl.description = text.simplified();
            return true;
        }
        return skipElement();
    });
    if (read && !(slope && offset && power))
        return failAt(line, QStringLiteral("a <SOPNode> needs <Slope>, <Offset> and <Power>"));
    return read;
}

bool CdlParser::parseSat(LutCdl &cdl)
{
    const qint64 line = m_xml.lineNumber();
    const QString element = m_xml.name().toString();
    bool saturation = false;
    const bool read = readChildren([&] {
        if (m_xml.name() == QLatin1String("Saturation")) {
            saturation = true;
            return readNumbers(&cdl.saturation, 1);
        }
        return skipElement();
    });
    if (read && !saturation)
        return failAt(line, QStringLiteral("a <%1> needs <Saturation>").arg(element));
    return read;
}

// The correction that cccid names among those read: the first with that id,
// else the one at that position (from 0), else none (null, with the reason).
const Correction *pick(const std::vector<Correction> &corrections, const QString &cccid, QString *reason)
{
    if (cccid.isEmpty())
        return &corrections.front();
    for (const Correction &correction : corrections) {
        if (correction.cdl.id == cccid)
            return &correction;
    }
    bool isNumber = false;
    const qlonglong position = cccid.toLongLong(&isNumber);
    if (isNumber && position >= 0 && position < qlonglong(corrections.size()))
        return &corrections[size_t(position)];
    // The ids there are, the first few of a long collection.
    constexpr size_t kListed = 12;
    QStringList ids;
    for (size_t i = 0; i < corrections.size() && i < kListed; ++i)
        ids << (corrections[i].cdl.id.isEmpty() ? QStringLiteral("(none)")
                                                : QLatin1Char('"') + corrections[i].cdl.id + QLatin1Char('"'));
    const QString more = corrections.size() > kListed
        ? QStringLiteral(" and %1 more").arg(corrections.size() - kListed)
        : QString();
    *reason = QStringLiteral("--cccid \"%1\" names no ColorCorrection of the file: its ids are %2%3 (or give a "
                             "position, 0 to %4)")
                  .arg(cccid, ids.join(QStringLiteral(", ")), more)
                  .arg(corrections.size() - 1);
    return nullptr;
}

bool readCdlFile(Read_LUTFile *lut, const QString &fileName, LutFormatId formatId)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return lut->fail(QStringLiteral("cannot open: %1").arg(file.errorString()));
    lut->applyDefaultOrder(formatId);
    if (file.size() > kMaxFileBytes)
        return lut->fail(QStringLiteral("%1 bytes: more than the %2 MiB a CDL file is read up to")
                             .arg(file.size())
                             .arg(kMaxFileBytes >> 20));
    // Inputs are files (standard input is copied to one), whose size is known.
    const QByteArray text = file.readAll();
    CdlParser parser(text);
    if (!parser.parse())
        return lut->fail(parser.error);
    QString reason;
    const Correction *chosen = pick(parser.corrections, lut->cccid, &reason);
    if (!chosen)
        return lut->fail(reason);

    const auto cdl = std::make_shared<const LutCdl>(chosen->cdl);
    LutMeaning &meaning = lut->meaning;
    meaning.cdl = *cdl;
    meaning.evaluate = [cdl](double rgb[3]) { cdl->apply(rgb); };
    meaning.evaluateSize3D = cdl->mixesChannels() ? kBakeSize3D : 0;
    meaning.evaluateSize1D = cdl->mixesChannels() ? 0 : kBakeSize1D;
    return true;
}

// The fewest digits that read back as the very double.
QByteArray shortest(double v)
{
    char buffer[32];
    const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, v);
    return QByteArray(buffer, int(result.ptr - buffer));
}

QByteArray triple(const double v[3])
{
    return shortest(v[0]) + ' ' + shortest(v[1]) + ' ' + shortest(v[2]);
}

} // namespace

bool Read_LUTFile::readCdlCc(QString fileName, bool)
{
    return readCdlFile(this, fileName, LutFormatId::CdlCc);
}

bool Read_LUTFile::readCdlCcc(QString fileName, bool)
{
    return readCdlFile(this, fileName, LutFormatId::CdlCcc);
}

bool Read_LUTFile::readCdlList(QString fileName, bool)
{
    return readCdlFile(this, fileName, LutFormatId::CdlList);
}

bool Write_LUTFile::writeCdlCc(QString fileName, Read_LUTFile *lut)
{
    if (!lut->meaning.cdl)
        return fail(QStringLiteral("the LUT holds a table, not a pure ASC CDL, which is all a .cc file holds"));
    const LutCdl &cdl = *lut->meaning.cdl;
    const QString problem = cdl.problem();
    if (!problem.isEmpty())
        return fail(QStringLiteral("not a grade a .cc file holds: %1").arg(problem));
    // The id the grade came with, else the name of the file it came from.
    QString id = cdl.id;
    if (id.isEmpty())
        id = QFileInfo(sourcePath).completeBaseName();
    QString description = cdl.description;
    if (description.isEmpty() && !sourcePath.isEmpty())
        description = QStringLiteral("Converted from %1").arg(QFileInfo(sourcePath).fileName());

    LutTextOutput out(fileName);
    if (!out.open())
        return fail(QStringLiteral("cannot open for writing: %1").arg(out.errorString()));
    LutTextStream &stream = out.stream();
    stream << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ColorCorrection";
    if (!id.isEmpty())
        stream << " id=\"" << id.toHtmlEscaped() << '"';
    stream << ">\n";
    if (!description.isEmpty())
        stream << "    <Description>" << description.toHtmlEscaped() << "</Description>\n";
    stream << "    <SOPNode>\n"
           << "        <Slope>" << triple(cdl.slope) << "</Slope>\n"
           << "        <Offset>" << triple(cdl.offset) << "</Offset>\n"
           << "        <Power>" << triple(cdl.power) << "</Power>\n"
           << "    </SOPNode>\n"
           << "    <SatNode>\n"
           << "        <Saturation>" << shortest(cdl.saturation) << "</Saturation>\n"
           << "    </SatNode>\n"
           << "</ColorCorrection>\n";
    if (!out.commit())
        return fail(QStringLiteral("write failed: %1").arg(out.errorString()));
    return true;
}
