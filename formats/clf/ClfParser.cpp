#include "formats/clf/ClfParser.h"

#include "formats/clf/ClfHalf.h"
#include "lut/LutScan.h"
#include "lut/LutXmlReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cstring>

namespace LutClf {

namespace {

// The XML reader gathers the whole text of an element before it hands it
// over, at two bytes a character, so a run of this many bytes without the
// end of a token is refused (a 256-point cube with ten characters a value
// stays below it).
constexpr qint64 kMaxTokenBytes = qint64(512) << 20;

enum class NodeKind { Lut1D, Lut3D, Range, Matrix, Cdl, Log, Exponent, InverseLut1D, InverseLut3D, ExposureContrast, FixedFunction, Reference, GradingPrimary, GradingRgbCurve, GradingTone };

// The most files a list may read through its references, itself among
// them (a list that refers to another twice at each level would otherwise
// grow exponentially).
constexpr int kMaxReferencedFiles = 64;

// The largest InverseLUT3D inverted: the search structure of its inverse
// takes some forty bytes a lattice point.
constexpr int kMaxInverseCubeSize = 129;

// --- Numbers ----------------------------------------------------------------

// Converts one blank-free token with the shared number scanner. The "|"
// put after it must follow the number at once, so a token with anything
// else in it ("0.5x", "1,5") is not taken for a number.
bool tokenToNumber(const char *token, int length, double *value)
{
    char buffer[72];
    if (length <= 0 || length > 64)
        return false;
    std::memcpy(buffer, token, size_t(length));
    buffer[length] = '|';
    buffer[length + 1] = '0';
    int tail = 0;
    return LutScan::scan(buffer, length + 2, "%lf|%d", {value, &tail}) == 2;
}

bool textToNumber(const QStringRef &text, double *value)
{
    const QByteArray latin = text.trimmed().toLatin1();
    return tokenToNumber(latin.constData(), latin.size(), value);
}

// Splits element text, which may come in several pieces, into tokens at
// XML white space and hands each to take(token, length, line); take returns
// false to stop. Tracks the line of each token for messages.
class TokenSplitter
{
public:
    template <typename Take>
    bool feed(const QStringRef &text, qint64 lineAtEnd, Take &&take)
    {
        qint64 line = lineAtEnd - text.count(QLatin1Char('\n'));
        for (const QChar ch : text) {
            const ushort u = ch.unicode();
            if (u == ' ' || u == '\t' || u == '\n' || u == '\r') {
                if (!flush(take))
                    return false;
                if (u == '\n')
                    ++line;
                continue;
            }
            if (m_token.isEmpty())
                m_line = line;
            // Long tokens are cut; the conversion then refuses them.
            if (m_token.size() < 80)
                m_token.append(u < 0x80 ? char(u) : '?');
        }
        return true;
    }
    template <typename Take>
    bool flush(Take &&take)
    {
        if (m_token.isEmpty())
            return true;
        const bool ok = take(m_token.constData(), m_token.size(), m_line);
        m_token.clear();
        return ok;
    }

private:
    QByteArray m_token;
    qint64 m_line = 0;
};

// --- Keywords ---------------------------------------------------------------

// The entry of a keyword table whose text is name, or null.
template <typename Entry, size_t N>
const Entry *lookUp(const Entry (&table)[N], const QStringRef &name)
{
    for (const Entry &entry : table) {
        if (name == QLatin1String(entry.text))
            return &entry;
    }
    return nullptr;
}

// The same for an attribute value: styles and bit depths are matched
// whatever their case, as the peer does ("monCurveFwd" in CLF files,
// "moncurveFwd" in CTF files).
template <typename Entry, size_t N>
const Entry *lookUpValue(const Entry (&table)[N], const QStringRef &value)
{
    for (const Entry &entry : table) {
        if (value.compare(QLatin1String(entry.text), Qt::CaseInsensitive) == 0)
            return &entry;
    }
    return nullptr;
}

// 0, 1, 2 for a channel attribute of "R", "G", "B"; -1 for none (all
// channels); -2 for anything else.
int channelOf(const QXmlStreamAttributes &attributes)
{
    const QStringRef channel = attributes.value(QLatin1String("channel"));
    if (channel.isNull())
        return -1;
    const int c = QStringLiteral("RGB").indexOf(channel);
    return channel.size() == 1 && c >= 0 ? c : -2;
}

// True when two normalised values differ by more than a millionth (of the
// larger magnitude, or absolutely near zero): the tolerance within which the
// peer takes a Range's in and out limits for the same value.
bool differ(double a, double b)
{
    return std::fabs(a) < 1e-3 ? std::fabs(a - b) > 1e-6 : std::fabs(1.0 - b / a) > 1e-6;
}

// MAJOR[.MINOR[.REVISION]] as major * 100 + minor (the revision does not
// change what a list may hold); -1 for anything else.
int versionNumber(const QStringRef &text)
{
    const QByteArray latin = text.trimmed().toLatin1();
    const char *p = latin.constData();
    const char *end = p + latin.size();
    int parts[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        const auto r = std::from_chars(p, end, parts[i]);
        if (r.ec != std::errc() || parts[i] > 99 || (r.ptr != end && *r.ptr != '.'))
            return -1;
        if (r.ptr == end)
            return parts[0] * 100 + parts[1];
        p = r.ptr + 1;
    }
    return -1;
}

// A LUT1D or LUT3D while its children are read.
struct LutRead
{
    bool is3D = false;
    bool halfDomain = false;
    bool rawHalfs = false;
    bool trilinear = false;
    bool hasIndexMap = false;
    bool hasArray = false;
    LutCurve indexMap;
    LutTable1D table1D;
    LutTable3D table3D;
};

// Reads a ProcessList into its nodes. The XML is fed to the reader a block at
// a time so that one endless token cannot take the memory (see
// kMaxTokenBytes); a document type declaration is refused outright, which
// keeps entity expansion out.
class ProcessListParser : LutXmlReader
{
public:
    // chain: the files that refer to this one, outermost first, this one
    // last (canonical paths); filesRead counts the files of the whole read.
    // inverted: every node is read as its inverse (the list is read through
    // an odd number of inverted References); the order stays the file's,
    // the Reference reverses it.
    ProcessListParser(QFile *file, bool clfFile, QStringList chain, int *filesRead, bool inverted = false)
        : LutXmlReader(file, kMaxTokenBytes,
                       QStringLiteral("a document type declaration is not accepted in a process list")),
          m_file(file), m_clfFile(clfFile), m_chain(std::move(chain)), m_filesRead(filesRead), m_inverted(inverted)
    {
    }

    bool parse();
    std::vector<Node> nodes;
    using LutXmlReader::error;

private:
    // Reads the text of the current element up to its end (a child element
    // is an error) and hands each blank-separated token to take.
    template <typename Take>
    bool readTokens(Take &&take);
    // The numbers of the current element's text: exactly count of them.
    bool readNumbers(double *numbers, int count, const QString &what);
    bool attributeNumber(const QXmlStreamAttributes &attributes, const char *name, double *value,
                         bool *present = nullptr);
    QString elementName() const { return m_xml.name().toString(); }
    // The entry of table that the current element's style attribute names;
    // null, after the failure, for a style not in the table. A missing
    // attribute gives fallback when there is one.
    template <typename Entry, size_t N>
    const Entry *parseStyle(const Entry (&table)[N], const Entry *fallback = nullptr);

    // Reads the root element's attributes: the id and the version, which
    // decides the nodes and styles the list may hold.
    bool parseRoot();
    // Fails, naming what needs which version, unless the list's version is
    // at least least (see m_version).
    bool needVersion(int least, const QString &what);
    bool parseNode(NodeKind kind);
    bool parseBitDepth(const QXmlStreamAttributes &attributes, const char *name, double *scale);
    bool parseLut(Node &node, bool is3D, bool inverse);
    // inverse: the node is an inverse table (its Array holds the outputs
    // of the table it inverts).
    bool parseLutArray(const Node &node, LutRead &lut, bool inverse);
    bool parseIndexMap(const Node &node, LutCurve &curve);
    // Makes node the inverse of the table read: an InverseLUT1D or
    // InverseLUT3D.
    bool makeInverse(Node &node, LutRead &lut, bool hueAdjust);
    bool parseRange(Node &node, Range &range);
    bool parseMatrix(Node &node, LutMatrix &matrix);
    bool parseCdl(Node &node, Cdl &cdl);
    bool parseLog(Node &node, Log &log);
    bool parseExponent(Node &node, Exponent &exponent, bool gammaNames);
    bool parseExposureContrast(Node &node, ExposureContrast &ec);
    bool parseFixedFunction(Node &node, FixedFunction &function, bool acesNode);
    bool parseGradingPrimary(GradingPrimary &primary);
    bool parseGradingRgbCurve(GradingRgbCurve &curve);
    bool parseGradingTone(GradingTone &tone);
    // The numbers of attribute name, which must be there, exactly count of
    // them.
    bool attributeNumbers(const QXmlStreamAttributes &attributes, const char *name, double *numbers, int count);
    // Reads the list a Reference names and puts its nodes in the
    // Reference's place.
    bool parseReference(const Node &node);

    QFile *m_file;
    bool m_clfFile;
    QStringList m_chain;
    int *m_filesRead;
    bool m_inverted;
    // The list's version as the transform format numbers them, major * 100
    // + minor: a CLF list (compCLFversion) of version 2.0 or before reads as
    // 1.7, a later one as 2.0; a CTF list without a version is 1.2.
    int m_version = 102;
    bool m_clf = false;      // the list gives compCLFversion
    QString m_versionText;   // as the file gives it, for messages
    QString m_lastOutDepth; // the outBitDepth of the node before
};

template <typename Take>
bool ProcessListParser::readTokens(Take &&take)
{
    TokenSplitter splitter;
    return readText([&](const QStringRef &text) { return splitter.feed(text, m_xml.lineNumber(), take); })
           && splitter.flush(take);
}

bool ProcessListParser::readNumbers(double *numbers, int count, const QString &what)
{
    int n = 0;
    const qint64 line = m_xml.lineNumber();
    const bool ok = readTokens([&](const char *token, int length, qint64 tokenLine) {
        double v = 0.0;
        if (!tokenToNumber(token, length, &v) || !std::isfinite(v))
            return failAt(tokenLine, QStringLiteral("%1: \"%2\" is not a finite number")
                                         .arg(what, QLatin1String(token, length)));
        if (n == count)
            return failAt(tokenLine, QStringLiteral("%1 holds more than %2 numbers").arg(what).arg(count));
        numbers[n++] = v;
        return true;
    });
    if (ok && n < count)
        return failAt(line, QStringLiteral("%1 holds %2 numbers, not %3").arg(what).arg(n).arg(count));
    return ok;
}

template <typename Entry, size_t N>
const Entry *ProcessListParser::parseStyle(const Entry (&table)[N], const Entry *fallback)
{
    const QStringRef style = m_xml.attributes().value(QLatin1String("style"));
    const Entry *entry = style.isNull() && fallback ? fallback : lookUpValue(table, style);
    if (!entry)
        fail(QStringLiteral("%1 style=\"%2\" is not evaluated").arg(elementName()).arg(style));
    return entry;
}

bool ProcessListParser::attributeNumber(const QXmlStreamAttributes &attributes, const char *name, double *value,
                                        bool *present)
{
    const QLatin1String key(name);
    const bool has = attributes.hasAttribute(key);
    if (present)
        *present = has;
    if (has && (!textToNumber(attributes.value(key), value) || !std::isfinite(*value)))
        return fail(QStringLiteral("%1=\"%2\" is not a finite number").arg(key).arg(attributes.value(key)));
    return true;
}

// --- The list ---------------------------------------------------------------

bool ProcessListParser::parse()
{
    // The root element, then its children: metadata, which is skipped with
    // everything in it, and the process nodes. Id is the list's identifier
    // element of the SMPTE form of the format (ST 2136-1); Info holds any
    // elements its writer likes. Metadata inside a node (Description) is
    // skipped by the node's own reading.
    for (QXmlStreamReader::TokenType token = next(); token != QXmlStreamReader::StartElement; token = next()) {
        if (token == QXmlStreamReader::Invalid)
            return false;
        if (token == QXmlStreamReader::EndDocument)
            return fail(QStringLiteral("no ProcessList element"));
    }
    if (m_xml.name() != QLatin1String("ProcessList"))
        return fail(QStringLiteral("the root element is <%1>, not <ProcessList>").arg(elementName()));
    const qint64 rootLine = m_xml.lineNumber();
    if (!parseRoot())
        return false;

    static const struct
    {
        const char *text;
        NodeKind kind;
    } kNodes[] = {{"LUT1D", NodeKind::Lut1D},       {"LUT3D", NodeKind::Lut3D},     {"Range", NodeKind::Range},
                  {"Matrix", NodeKind::Matrix},     {"ASC_CDL", NodeKind::Cdl},     {"Log", NodeKind::Log},
                  {"Exponent", NodeKind::Exponent}, {"Gamma", NodeKind::Exponent},
                  {"InverseLUT1D", NodeKind::InverseLut1D}, {"InverseLUT3D", NodeKind::InverseLut3D},
                  {"ExposureContrast", NodeKind::ExposureContrast}, {"FixedFunction", NodeKind::FixedFunction},
                  {"ACES", NodeKind::FixedFunction}, {"Reference", NodeKind::Reference},
                  {"GradingPrimary", NodeKind::GradingPrimary}, {"GradingRGBCurve", NodeKind::GradingRgbCurve},
                  {"GradingTone", NodeKind::GradingTone}};
    static const struct
    {
        const char *text;
    } kMetadata[] = {{"Description"}, {"InputDescriptor"}, {"OutputDescriptor"}, {"Info"}, {"Id"}};
    const bool read = readChildren([this] {
        if (lookUp(kMetadata, m_xml.name()))
            return skipElement();
        const auto *known = lookUp(kNodes, m_xml.name());
        return known ? parseNode(known->kind) : fail(QStringLiteral("cannot evaluate a <%1> node").arg(elementName()));
    });
    if (!read)
        return false;
    if (nodes.empty())
        return failAt(rootLine, QStringLiteral("the ProcessList holds no process node to apply"));
    // Nothing but comments and white space may follow the root element.
    for (QXmlStreamReader::TokenType token = next(); token != QXmlStreamReader::EndDocument; token = next()) {
        if (token == QXmlStreamReader::Invalid)
            return false;
    }
    return true;
}

bool ProcessListParser::parseRoot()
{
    const QXmlStreamAttributes attributes = m_xml.attributes();
    if (attributes.value(QLatin1String("id")).trimmed().isEmpty())
        return fail(QStringLiteral("the ProcessList needs an id attribute"));
    const QStringRef clfVersion = attributes.value(QLatin1String("compCLFversion"));
    const QStringRef ctfVersion = attributes.value(QLatin1String("version"));
    if (!clfVersion.isNull() && !ctfVersion.isNull())
        return fail(QStringLiteral("a ProcessList gives compCLFversion or version, not both"));
    if (clfVersion.isNull() && ctfVersion.isNull()) {
        // The transform format's oldest lists had no version; a CLF list
        // always states the one it keeps to.
        if (m_clfFile)
            return fail(QStringLiteral("a CLF ProcessList needs its compCLFversion"));
        m_versionText = QStringLiteral("version 1.2 (none given)");
        return true;
    }
    m_clf = !clfVersion.isNull();
    const QStringRef text = m_clf ? clfVersion : ctfVersion;
    const QLatin1String name(m_clf ? "compCLFversion" : "version");
    const int version = versionNumber(text);
    m_versionText = QStringLiteral("%1=\"%2\"").arg(name).arg(text);
    if (version < 0)
        return fail(QStringLiteral("%1 is not a version number").arg(m_versionText));
    // The newest versions this reader knows: CLF 3, the transform format's 2.
    if (version >= (m_clf ? 400 : 300))
        return fail(QStringLiteral("%1 is newer than the versions read (up to %2)")
                        .arg(m_versionText, QLatin1String(m_clf ? "3" : "2")));
    m_version = !m_clf ? version : version <= 200 ? 107 : 200;
    return true;
}

bool ProcessListParser::needVersion(int least, const QString &what)
{
    if (m_version >= least)
        return true;
    // CLF lists before 3 read as the transform format's 1.7, so what needs
    // 2.0 there needs CLF 3.
    const QString needed = m_clf ? QStringLiteral("compCLFversion 3 or later")
                                 : QStringLiteral("version %1.%2 or later").arg(least / 100).arg(least % 100);
    return fail(QStringLiteral("%1 needs %2; this list has %3").arg(what, needed, m_versionText));
}

bool ProcessListParser::parseBitDepth(const QXmlStreamAttributes &attributes, const char *name, double *scale)
{
    static const struct
    {
        const char *text;
        double scale;
    } kDepths[] = {{"8i", 255.0}, {"10i", 1023.0}, {"12i", 4095.0}, {"16i", 65535.0}, {"16f", 1.0}, {"32f", 1.0}};
    const QStringRef value = attributes.value(QLatin1String(name));
    if (value.isNull())
        return fail(QStringLiteral("<%1> has no %2").arg(elementName(), QLatin1String(name)));
    const auto *depth = lookUpValue(kDepths, value);
    if (!depth)
        return fail(QStringLiteral("%1=\"%2\" is not a bit depth").arg(QLatin1String(name)).arg(value));
    *scale = depth->scale;
    return true;
}

bool ProcessListParser::parseNode(NodeKind kind)
{
    // A longer list is refused as it is read, before its nodes take memory.
    if (nodes.size() >= size_t(kMaxProcessNodes))
        return fail(QStringLiteral("the process list has more than %1 nodes").arg(kMaxProcessNodes));
    const QXmlStreamAttributes attributes = m_xml.attributes();
    Node node;
    node.line = m_xml.lineNumber();
    if (!parseBitDepth(attributes, "inBitDepth", &node.inScale)
        || !parseBitDepth(attributes, "outBitDepth", &node.outScale))
        return false;
    // Each node takes its input at the depth the node before gives its output.
    const QString inDepth = attributes.value(QLatin1String("inBitDepth")).toString();
    if (!m_lastOutDepth.isEmpty() && inDepth.compare(m_lastOutDepth, Qt::CaseInsensitive) != 0)
        return fail(QStringLiteral("inBitDepth=\"%1\" differs from the outBitDepth=\"%2\" before it")
                        .arg(inDepth, m_lastOutDepth));
    m_lastOutDepth = attributes.value(QLatin1String("outBitDepth")).toString();
    // The nodes each version introduced: ASC_CDL and Log came with the
    // transform format's 1.3; CLF lists had neither Log nor Exponent before 3.
    if (kind == NodeKind::Cdl && !needVersion(103, QStringLiteral("an ASC_CDL node")))
        return false;
    if (kind == NodeKind::Log && !needVersion(m_clf ? 200 : 103, QStringLiteral("a Log node")))
        return false;
    if (kind == NodeKind::Exponent && m_clf && !needVersion(200, QStringLiteral("a <%1> node").arg(elementName())))
        return false;
    // The transform format's own nodes are not part of CLF.
    const bool ctfOnly = kind == NodeKind::InverseLut1D || kind == NodeKind::InverseLut3D
                         || kind == NodeKind::ExposureContrast || kind == NodeKind::FixedFunction
                         || kind == NodeKind::Reference || kind == NodeKind::GradingPrimary
                         || kind == NodeKind::GradingRgbCurve || kind == NodeKind::GradingTone;
    if (ctfOnly && m_clf)
        return fail(QStringLiteral("a <%1> node belongs to the transform format, not to CLF; this list has %2")
                        .arg(elementName(), m_versionText));
    if (kind == NodeKind::Reference)
        return parseReference(node);
    bool ok = false;
    switch (kind) {
    case NodeKind::Reference:
        break;
    case NodeKind::Lut1D:
    case NodeKind::Lut3D:
    case NodeKind::InverseLut1D:
    case NodeKind::InverseLut3D:
        ok = parseLut(node, kind == NodeKind::Lut3D || kind == NodeKind::InverseLut3D,
                      kind == NodeKind::InverseLut1D || kind == NodeKind::InverseLut3D);
        break;
    case NodeKind::Range:
        ok = parseRange(node, node.op.emplace<Range>());
        break;
    case NodeKind::ExposureContrast:
        ok = parseExposureContrast(node, node.op.emplace<ExposureContrast>());
        break;
    case NodeKind::FixedFunction:
        ok = parseFixedFunction(node, node.op.emplace<FixedFunction>(), m_xml.name() == QLatin1String("ACES"));
        break;
    case NodeKind::GradingPrimary:
        ok = parseGradingPrimary(node.op.emplace<GradingPrimary>());
        break;
    case NodeKind::GradingRgbCurve:
        ok = parseGradingRgbCurve(node.op.emplace<GradingRgbCurve>());
        break;
    case NodeKind::GradingTone:
        ok = parseGradingTone(node.op.emplace<GradingTone>());
        break;
    case NodeKind::Matrix:
        ok = parseMatrix(node, node.op.emplace<LutMatrix>());
        break;
    case NodeKind::Cdl:
        ok = parseCdl(node, node.op.emplace<Cdl>());
        break;
    case NodeKind::Log:
        ok = parseLog(node, node.op.emplace<Log>());
        break;
    case NodeKind::Exponent:
        ok = parseExponent(node, node.op.emplace<Exponent>(), m_xml.name() == QLatin1String("Gamma"));
        break;
    }
    if (ok)
        nodes.push_back(std::move(node));
    return ok;
}

// --- LUT1D and LUT3D --------------------------------------------------------

bool ProcessListParser::parseLut(Node &node, bool is3D, bool inverse)
{
    const QXmlStreamAttributes attributes = m_xml.attributes();
    const QString nodeName = elementName();
    LutRead lut;
    lut.is3D = is3D;
    const QStringRef interpolation = attributes.value(QLatin1String("interpolation"));
    lut.trilinear = is3D && interpolation == QLatin1String("trilinear");
    if (!interpolation.isEmpty() && !lut.trilinear
        && interpolation != QLatin1String(is3D ? "tetrahedral" : "linear"))
        return fail(QStringLiteral("interpolation=\"%1\" is not evaluated").arg(interpolation));
    // halfDomain and rawHalfs are flags of a LUT1D that are either "true"
    // or absent; the peer reads a LUT3D's values as numbers whatever it says.
    for (const char *flag : {"halfDomain", "rawHalfs"}) {
        const QStringRef value = attributes.value(QLatin1String(flag));
        if (value.isNull())
            continue;
        if (is3D)
            return fail(QStringLiteral("%1= is an attribute of LUT1D, not of LUT3D").arg(QLatin1String(flag)));
        if (value.compare(QLatin1String("true"), Qt::CaseInsensitive) != 0)
            return fail(QStringLiteral("%1=\"%2\" is not \"true\" (the only value it takes; leave it out otherwise)")
                            .arg(QLatin1String(flag))
                            .arg(value));
        (flag[0] == 'h' ? lut.halfDomain : lut.rawHalfs) = true;
    }
    // hueAdjust="dw3" keeps the hue through a LUT1D (of the transform
    // format's lists).
    const QStringRef hue = attributes.value(QLatin1String("hueAdjust"));
    const bool hueAdjust = hue.compare(QLatin1String("dw3"), Qt::CaseInsensitive) == 0;
    if (!hue.isEmpty() && hue.compare(QLatin1String("none"), Qt::CaseInsensitive) != 0 && (!hueAdjust || is3D))
        return fail(QStringLiteral("hueAdjust=\"%1\" is not evaluated").arg(hue));
    if (hueAdjust && m_clf)
        return fail(QStringLiteral("hueAdjust= belongs to the transform format's LUT1D, not to CLF; this list has %1")
                        .arg(m_versionText));

    const bool read = readChildren([&] {
        if (m_xml.name() == QLatin1String("Array")) {
            if (lut.hasArray)
                return fail(QStringLiteral("a second <Array>"));
            return parseLutArray(node, lut, inverse);
        }
        if (m_xml.name() != QLatin1String("IndexMap"))
            return skipElement();
        // The transform format had IndexMap from 1.7 (CLF 2) and dropped it
        // with 2.0 (CLF 3), whose readers ignore it.
        if (m_version < 107 || m_version >= 200)
            return fail(QStringLiteral("<IndexMap> is read in CLF 2 lists and transform lists from 1.7 before 2.0; "
                                       "this list has %1")
                            .arg(m_versionText));
        if (is3D || inverse)
            return fail(QStringLiteral("an <IndexMap> of a %1 is not evaluated").arg(nodeName));
        if (lut.hasArray || lut.hasIndexMap || lut.halfDomain)
            return fail(QStringLiteral("an <IndexMap> comes once, before the <Array> of a LUT1D over 0..1"));
        lut.hasIndexMap = true;
        return parseIndexMap(node, lut.indexMap);
    });
    if (!read)
        return false;
    if (!lut.hasArray)
        return failAt(node.line, QStringLiteral("no <Array>"));
    if (lut.hasIndexMap && m_inverted)
        return failAt(node.line, QStringLiteral("a LUT1D with an <IndexMap> cannot be inverted"));
    // Read inverted, a table becomes the inverse table and the inverse table
    // the table.
    if (inverse != m_inverted)
        return makeInverse(node, lut, hueAdjust);
    if (is3D) {
        Lut3D &lut3D = node.op.emplace<Lut3D>();
        lut3D.table = std::move(lut.table3D);
        lut3D.trilinear = lut.trilinear;
        return true;
    }
    if (lut.hasIndexMap) {
        // The map takes input values to table indices: as table positions
        // 0..1 they are what the table is looked up at.
        for (double &index : lut.indexMap.y)
            index /= double(lut.table1D.size() - 1);
        const QString problem = lut.indexMap.problem();
        if (!problem.isEmpty())
            return failAt(node.line, QStringLiteral("IndexMap: %1").arg(problem));
    }
    Lut1D &lut1D = node.op.emplace<Lut1D>();
    lut1D.table = std::move(lut.table1D);
    lut1D.halfDomain = lut.halfDomain;
    lut1D.indexMap = std::move(lut.indexMap);
    lut1D.hueAdjust = hueAdjust;
    return true;
}

bool ProcessListParser::makeInverse(Node &node, LutRead &lut, bool hueAdjust)
{
    if (lut.is3D) {
        const int n = lut.table3D.size();
        auto cube = std::make_shared<LutInverse::Cube>();
        if (!cube->build(lut.table3D.data(), n))
            return failAt(node.line, QStringLiteral("out of memory for the inverse of a cube of size %1").arg(n));
        node.op.emplace<InverseLut3D>().cube = std::move(cube);
        return true;
    }
    InverseLut1D &inverse = node.op.emplace<InverseLut1D>();
    inverse.halfDomain = lut.halfDomain;
    inverse.hueAdjust = hueAdjust;
    const LutTable1D &table = lut.table1D;
    for (int c = 0; c < 3; ++c) {
        if (!lut.halfDomain) {
            inverse.curve[c] = LutInverse::Curve::uniform(table.data() + c, table.size(), 3);
            continue;
        }
        // The positive halfs up to the largest (65504), rising when the
        // output for 1 is above the output for 0; the negative halfs from -0
        // to -65504 the other way, carrying on from the output for +0.
        std::vector<double> x, y, negativeX, negativeY;
        for (unsigned bits = 0; bits <= 0x7bffu; ++bits) {
            x.push_back(halfToDouble(bits));
            y.push_back(table[int(bits)][c]);
            negativeX.push_back(halfToDouble(bits | 0x8000u));
            negativeY.push_back(table[int(bits | 0x8000u)][c]);
        }
        const double atZero = table[0][c];
        const int direction = atZero < table[0x3c00][c] ? 1 : -1;
        inverse.atZero[c] = atZero;
        inverse.curve[c] = LutInverse::Curve(std::move(x), std::move(y), direction);
        inverse.negative[c] = LutInverse::Curve(std::move(negativeX), std::move(negativeY), -direction, atZero);
    }
    return true;
}

bool ProcessListParser::parseLutArray(const Node &node, LutRead &lut, bool inverse)
{
    const bool is3D = lut.is3D;
    const qint64 line = m_xml.lineNumber();
    const QString dim = m_xml.attributes().value(QLatin1String("dim")).toString().simplified();
    std::vector<double> d;
    for (const QString &field : dim.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        double v = 0.0;
        if (!textToNumber(QStringRef(&field), &v) || v != std::floor(v))
            return fail(QStringLiteral("Array dim=\"%1\" is not a list of whole numbers").arg(dim));
        d.push_back(v);
    }
    if (is3D ? d.size() != 4 || d[3] != 3.0 || d[0] != d[1] || d[1] != d[2]
             : d.size() != 2 || (d[1] != 1.0 && d[1] != 3.0))
        return fail(QStringLiteral("Array dim=\"%1\" is not \"%2\"")
                        .arg(dim, QLatin1String(is3D ? "N N N 3" : "N 1\" or \"N 3")));
    const int limit = is3D ? kMaxCubeSize : kMax1DSize;
    if (d[0] < 2.0 || d[0] > double(limit))
        return fail(QStringLiteral("Array size %1 is outside 2..%2").arg(d[0]).arg(limit));
    const int size = int(d[0]);
    const int components = int(d[is3D ? 3 : 1]);
    if (inverse != m_inverted && is3D && size > kMaxInverseCubeSize)
        return fail(QStringLiteral("%1 of %2 points per axis is above the %3 inverted")
                        .arg(QLatin1String(inverse ? "an InverseLUT3D" : "a LUT3D read inverted"))
                        .arg(size)
                        .arg(kMaxInverseCubeSize));
    if (lut.halfDomain && size != 65536)
        return fail(QStringLiteral("a half-domain LUT1D needs 65536 entries, not %1").arg(size));
    const qint64 expected = (is3D ? qint64(size) * size * size : qint64(size)) * components;
    // Every value takes at least a character and a blank: a dim the file
    // cannot hold is refused before the table is allocated.
    if (2 * expected - 1 > m_file->size())
        return fail(QStringLiteral("Array dim=\"%1\" asks for %2 values, more than the file holds")
                        .arg(dim)
                        .arg(expected));

    lut.hasArray = true;
    if (!(is3D ? lut.table3D.allocate(size) : lut.table1D.allocate(size)))
        return fail(is3D ? QStringLiteral("out of memory for a cube of size %1").arg(size)
                         : QStringLiteral("out of memory for a 1D table of size %1").arg(size));
    float *data = is3D ? lut.table3D.data() : lut.table1D.data();
    // Raw halfs are the bit patterns of the values, which are in the units
    // of the output depth like any others (as the peer reads them). An
    // inverse table holds the outputs of the table it inverts: they are in
    // the units of its input depth.
    const double outScale = inverse ? node.inScale : node.outScale;
    qint64 count = 0;
    const bool read = readTokens([&](const char *token, int length, qint64 tokenLine) {
        double v = 0.0;
        const QLatin1String text(token, length);
        // Only the entries of a half-domain table that stand for infinities
        // and NaNs may be other than finite.
        if (!tokenToNumber(token, length, &v) || (!std::isfinite(v) && !lut.halfDomain))
            return failAt(tokenLine, QStringLiteral("Array value \"%1\" is not a finite number").arg(text));
        if (count == expected)
            return failAt(tokenLine, QStringLiteral("the Array holds more than the %1 values of dim=\"%2\"")
                                         .arg(expected)
                                         .arg(dim));
        if (lut.rawHalfs) {
            if (!(v >= 0.0 && v <= 65535.0 && v == std::floor(v)))
                return failAt(tokenLine,
                              QStringLiteral("raw half \"%1\" is not a whole number from 0 to 65535").arg(text));
            v = halfToDouble(unsigned(v));
        }
        const float value = float(v / outScale);
        if (components == 3)
            data[count] = value;
        else
            data[3 * count] = data[3 * count + 1] = data[3 * count + 2] = value;
        ++count;
        return true;
    });
    if (read && count != expected)
        return failAt(line, QStringLiteral("the Array holds %1 values, dim=\"%2\" asks for %3")
                                .arg(count)
                                .arg(dim)
                                .arg(expected));
    return read;
}

bool ProcessListParser::parseIndexMap(const Node &node, LutCurve &curve)
{
    // dim="N": the number of pairs "input@index" that follow, input values
    // in input units.
    const qint64 line = m_xml.lineNumber();
    const QStringRef dimText = m_xml.attributes().value(QLatin1String("dim"));
    double dim = 0.0;
    if (!textToNumber(dimText, &dim) || !(dim >= 1.0 && dim <= double(kMax1DSize)) || dim != std::floor(dim))
        return fail(QStringLiteral("IndexMap dim=\"%1\" is not its number of entries").arg(dimText));
    const bool read = readTokens([&](const char *token, int length, qint64 line) {
        const char *at = static_cast<const char *>(std::memchr(token, '@', size_t(length)));
        double input = 0.0, index = 0.0;
        if (!at || !tokenToNumber(token, int(at - token), &input)
            || !tokenToNumber(at + 1, int(token + length - at - 1), &index))
            return failAt(line, QStringLiteral("IndexMap entry \"%1\" is not \"input@index\"")
                                    .arg(QLatin1String(token, length)));
        if (curve.x.size() >= size_t(kMax1DSize))
            return failAt(line, QStringLiteral("the IndexMap holds more than %1 entries").arg(kMax1DSize));
        curve.x.push_back(input / node.inScale);
        curve.y.push_back(index);
        return true;
    });
    if (read && double(curve.x.size()) != dim)
        return failAt(line, QStringLiteral("the IndexMap holds %1 entries, dim=\"%2\" gives %3")
                                .arg(curve.x.size())
                                .arg(dimText)
                                .arg(dim));
    return read;
}

// --- Range and Matrix -------------------------------------------------------

bool ProcessListParser::parseRange(Node &node, Range &range)
{
    static const struct
    {
        const char *text;
        bool clamp;
    } kStyles[] = {{"Clamp", true}, {"noClamp", false}};
    const auto *style = parseStyle(kStyles, &kStyles[0]);
    if (!style)
        return false;
    range.clamp = style->clamp;
    // Readers before 1.7 know no style and clamp whatever it says.
    if (!range.clamp && !needVersion(107, QStringLiteral("a Range of style=\"noClamp\"")))
        return false;
    struct
    {
        const char *text;
        double *value;
        double scale;
    } limits[] = {{"minInValue", &range.minIn, node.inScale}, {"maxInValue", &range.maxIn, node.inScale},
                  {"minOutValue", &range.minOut, node.outScale}, {"maxOutValue", &range.maxOut, node.outScale}};
    bool present[4] = {false, false, false, false};
    const bool read = readChildren([&] {
        const auto *limit = lookUp(limits, m_xml.name());
        if (!limit)
            return skipElement();
        present[limit - limits] = true;
        if (!readNumbers(limit->value, 1, QLatin1String(limit->text)))
            return false;
        *limit->value /= limit->scale;
        return true;
    });
    if (!read)
        return false;
    range.hasMin = present[0];
    range.hasMax = present[1];
    if (present[0] != present[2] || present[1] != present[3])
        return failAt(node.line, QStringLiteral("a Range needs its in and out values in pairs"));
    if (!range.hasMin && !range.hasMax)
        return failAt(node.line, QStringLiteral("a Range needs minimum or maximum values"));
    if (range.hasMin && range.hasMax) {
        if (!(range.maxIn > range.minIn))
            return failAt(node.line, QStringLiteral("a Range needs maxInValue above minInValue"));
        if (range.maxOut < range.minOut)
            return failAt(node.line, QStringLiteral("a Range needs maxOutValue at or above minOutValue"));
    } else if (!range.clamp) {
        return failAt(node.line, QStringLiteral("a noClamp Range needs all four values"));
    } else if ((range.hasMin && differ(range.minIn, range.minOut)) || (range.hasMax && differ(range.maxIn, range.maxOut))) {
        // With one pair only, the Range is a clamp and maps values onto
        // themselves. The pair may be given in two bit depths, so the two
        // normalised values are compared within a millionth.
        return failAt(node.line, QStringLiteral("a Range with one pair of values needs the same value in and out"));
    }
    if (m_inverted) {
        // The inverse maps the output limits back onto the input ones (a
        // clamp at one limit stays that clamp).
        if (range.hasMin && range.hasMax && !(range.maxOut > range.minOut))
            return failAt(node.line, QStringLiteral("a Range onto a single value cannot be inverted"));
        std::swap(range.minIn, range.minOut);
        std::swap(range.maxIn, range.maxOut);
    }
    return true;
}

bool ProcessListParser::parseMatrix(Node &node, LutMatrix &matrix)
{
    bool haveArray = false;
    const bool read = readChildren([&] {
        if (m_xml.name() != QLatin1String("Array"))
            return skipElement();
        // "3 3", or "3 4" with the offsets as a fourth column; "4 4" and
        // "4 5" add a row and a column for alpha, which are read and left
        // out (the colours' alpha is taken as 0, as the peer bakes them).
        // Older files add the number of components: "3 3 3", "3 4 3",
        // "4 4 4", "4 5 4".
        const QString dim = m_xml.attributes().value(QLatin1String("dim")).toString().simplified();
        static const struct
        {
            const char *text;
            int rows, columns;
        } kDims[] = {{"3 3", 3, 3},   {"3 4", 3, 4},   {"4 4", 4, 4},   {"4 5", 4, 5},
                     {"3 3 3", 3, 3}, {"3 4 3", 3, 4}, {"4 4 4", 4, 4}, {"4 5 4", 4, 5}};
        const auto *shape = std::find_if(std::begin(kDims), std::end(kDims),
                                         [&](const auto &d) { return dim == QLatin1String(d.text); });
        if (shape == std::end(kDims) || haveArray)
            return fail(QStringLiteral("a Matrix needs one Array of dim=\"3 3\", \"3 4\", \"4 4\" or \"4 5\", not \"%1\"")
                            .arg(dim));
        haveArray = true;
        const int rows = shape->rows, columns = shape->columns;
        double values[20];
        if (!readNumbers(values, rows * columns, QStringLiteral("the Matrix Array")))
            return false;
        // The offsets are the last column of "3 4" and "4 5".
        const bool offsets = columns == rows + 1;
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                matrix.m[r][c] = values[r * columns + c] * node.inScale / node.outScale;
            matrix.offset[r] = offsets ? values[r * columns + columns - 1] / node.outScale : 0.0;
        }
        if (!m_inverted)
            return true;
        // With alpha 0 in, the colour block inverts on its own unless the
        // colour rows take alpha (which the inverse then feeds back).
        for (int r = 0; rows == 4 && r < 3; ++r) {
            if (values[r * columns + 3] != 0.0)
                return fail(QStringLiteral("a Matrix whose colour rows take alpha cannot be inverted"));
        }
        return matrix.invert(&matrix) || fail(QStringLiteral("a singular Matrix cannot be inverted"));
    });
    return read && (haveArray || failAt(node.line, QStringLiteral("a Matrix without an <Array>")));
}

// --- ASC_CDL, Log, Exponent -------------------------------------------------

bool ProcessListParser::parseCdl(Node &node, Cdl &cdl)
{
    static const struct
    {
        const char *text;
        CdlStyle style;
    } kStyles[] = {{"Fwd", CdlStyle::Fwd},           {"Rev", CdlStyle::Rev},
                   {"FwdNoClamp", CdlStyle::FwdNoClamp}, {"RevNoClamp", CdlStyle::RevNoClamp},
                   // The names of the transform format's older versions.
                   {"v1.2_Fwd", CdlStyle::Fwd},          {"v1.2_Rev", CdlStyle::Rev},
                   {"noClampFwd", CdlStyle::FwdNoClamp}, {"noClampRev", CdlStyle::RevNoClamp}};
    const auto *style = parseStyle(kStyles, &kStyles[0]);
    if (!style)
        return false;
    cdl.style = style->style;
    if (m_inverted) {
        static const CdlStyle kInverse[] = {CdlStyle::Rev, CdlStyle::Fwd, CdlStyle::RevNoClamp, CdlStyle::FwdNoClamp};
        cdl.style = kInverse[int(cdl.style)];
    }
    // A SOPNode holds Slope, Offset and Power, three numbers each, and a
    // SatNode one Saturation; either node may be missing.
    const struct
    {
        const char *text;
        double *values;
        int count;
    } kParts[] = {{"Slope", cdl.slope, 3}, {"Offset", cdl.offset, 3}, {"Power", cdl.power, 3},
                  {"Saturation", &cdl.saturation, 1}};
    const bool read = readChildren([&] {
        const bool sop = m_xml.name() == QLatin1String("SOPNode");
        if (!sop && m_xml.name() != QLatin1String("SatNode"))
            return skipElement();
        int parts = 0;
        return readChildren([&] {
            const auto *part = lookUp(kParts, m_xml.name());
            if (!part || (part->count == 3) != sop)
                return skipElement();
            ++parts;
            return readNumbers(part->values, part->count, QLatin1String(part->text));
        }) && (!sop || parts == 3 || fail(QStringLiteral("a SOPNode needs Slope, Offset and Power")));
    });
    if (!read)
        return false;
    const bool reverse = cdl.style == CdlStyle::Rev || cdl.style == CdlStyle::RevNoClamp;
    // The CDL's slopes and saturation are 0 or more.
    if (!(cdl.slope[0] >= 0.0 && cdl.slope[1] >= 0.0 && cdl.slope[2] >= 0.0 && cdl.saturation >= 0.0))
        return failAt(node.line, QStringLiteral("an ASC_CDL needs slopes and saturation of 0 or more"));
    for (int c = 0; c < 3; ++c) {
        if (!(cdl.power[c] > 0.0) || (reverse && cdl.slope[c] == 0.0))
            return failAt(node.line,
                          QStringLiteral("an ASC_CDL needs powers above 0 (and slopes other than 0 to reverse)"));
    }
    if (reverse && cdl.saturation == 0.0)
        return failAt(node.line, QStringLiteral("an ASC_CDL with saturation 0 cannot be reversed"));
    return true;
}

bool ProcessListParser::parseLog(Node &node, Log &log)
{
    static const struct
    {
        const char *text;
        LogStyle style;
    } kStyles[] = {{"log10", LogStyle::Log10},         {"log2", LogStyle::Log2},
                   {"antiLog10", LogStyle::AntiLog10}, {"antiLog2", LogStyle::AntiLog2},
                   {"linToLog", LogStyle::LinToLog},   {"logToLin", LogStyle::LogToLin},
                   {"cameraLinToLog", LogStyle::CameraLinToLog}, {"cameraLogToLin", LogStyle::CameraLogToLin}};
    const auto *style = parseStyle(kStyles);
    if (!style)
        return false;
    log.style = style->style;
    const bool camera = log.style == LogStyle::CameraLinToLog || log.style == LogStyle::CameraLogToLin;
    const bool plain = log.style == LogStyle::Log10 || log.style == LogStyle::Log2 || log.style == LogStyle::AntiLog10
                       || log.style == LogStyle::AntiLog2;
    // The transform format's lists also take film-style parameters for
    // linToLog and logToLin (gamma, refWhite, refBlack, highlight and
    // shadow, a Cineon-like model); before 2.0 they are the only kind, and
    // the other styles than the plain ones are unknown.
    const bool before2 = !m_clf && m_version < 200;
    const bool filmStyles = log.style == LogStyle::LinToLog || log.style == LogStyle::LogToLin;
    if (before2 && !plain && !filmStyles)
        return fail(QStringLiteral("before version 2.0 a Log knows no style=\"%1\"; this list has %2")
                        .arg(QLatin1String(style->text), m_versionText));
    bool film = false, others = false; // the kinds of LogParams given
    bool filmSet[3] = {false, false, false};
    const bool read = readChildren([&] {
        if (m_xml.name() != QLatin1String("LogParams"))
            return skipElement();
        const QXmlStreamAttributes attributes = m_xml.attributes();
        static const char *const kFilm[] = {"gamma", "refWhite", "refBlack", "highlight", "shadow"};
        static const char *const kClf[] = {"base", "logSideSlope", "logSideOffset", "linSideSlope", "linSideOffset",
                                           "linSideBreak", "linearSlope"};
        bool anyFilm = false, anyClf = false;
        for (const char *name : kFilm)
            anyFilm = anyFilm || attributes.hasAttribute(QLatin1String(name));
        for (const char *name : kClf)
            anyClf = anyClf || attributes.hasAttribute(QLatin1String(name));
        const int only = channelOf(attributes);
        if (only == -2)
            return fail(QStringLiteral("LogParams channel is not R, G or B"));
        if (m_clf && anyFilm)
            return fail(QStringLiteral("LogParams %1= and the other film-style parameters are not part of CLF; this "
                                       "list has %2")
                            .arg(QLatin1String(kFilm[0]), m_versionText));
        if (before2 || anyFilm) {
            if (!filmStyles)
                return fail(QStringLiteral("film-style LogParams belong to linToLog and logToLin, not to "
                                           "style=\"%1\"")
                                .arg(QLatin1String(style->text)));
            if (anyClf || others)
                return fail(QStringLiteral("LogParams mix film-style parameters (gamma, refWhite, ...) with the "
                                           "others (base, logSideSlope, ...)"));
            double v[5];
            for (int i = 0; i < 5; ++i) {
                bool present = false;
                if (!attributeNumber(attributes, kFilm[i], &v[i], &present))
                    return false;
                if (!present)
                    return fail(QStringLiteral("film-style LogParams need gamma, refWhite, refBlack, highlight and "
                                               "shadow; %1= is missing")
                                    .arg(QLatin1String(kFilm[i])));
            }
            const double gamma = v[0], refWhite = v[1], refBlack = v[2], highlight = v[3], shadow = v[4];
            if (!(gamma > 0.01) || !(refWhite > refBlack) || !(highlight > shadow))
                return fail(QStringLiteral("film-style LogParams need gamma above 0.01, refWhite above refBlack and "
                                           "highlight above shadow"));
            // The film model as a logarithm of base 10: refWhite and refBlack
            // are 10-bit codes, 0.002 density a code, gamma the film's.
            const double density = 0.002 * 1023.0 / gamma;
            const double blackToWhite = std::min((refBlack - refWhite) / 1023.0 * density, -0.0001);
            const double gain = (highlight - shadow) / (1.0 - std::pow(10.0, blackToWhite));
            const double offset = gain - (highlight - shadow);
            LogParams p;
            p.base = 10.0;
            p.logSideSlope = 1.0 / density;
            p.linSideSlope = 1.0 / gain;
            p.linSideOffset = (offset - shadow) / gain;
            p.logSideOffset = refWhite / 1023.0;
            film = true;
            for (int c = 0; c < 3; ++c) {
                if (only < 0 || only == c) {
                    log.params[c] = p;
                    filmSet[c] = true;
                }
            }
            return skipElement();
        }
        LogParams p;
        bool hasBreak = false, hasSlope = false;
        if (!attributeNumber(attributes, "base", &p.base)
            || !attributeNumber(attributes, "logSideSlope", &p.logSideSlope)
            || !attributeNumber(attributes, "logSideOffset", &p.logSideOffset)
            || !attributeNumber(attributes, "linSideSlope", &p.linSideSlope)
            || !attributeNumber(attributes, "linSideOffset", &p.linSideOffset)
            || !attributeNumber(attributes, "linSideBreak", &p.linSideBreak, &hasBreak)
            || !attributeNumber(attributes, "linearSlope", &p.linearSlope, &hasSlope))
            return false;
        if (!camera && (hasBreak || hasSlope))
            return fail(QStringLiteral("%1= is a parameter of the camera styles only, not of style=\"%2\"")
                            .arg(QLatin1String(hasBreak ? "linSideBreak" : "linearSlope"), QLatin1String(style->text)));
        if (!(p.base > 0.0) || p.base == 1.0 || p.logSideSlope == 0.0 || p.linSideSlope == 0.0)
            return fail(QStringLiteral("LogParams need a positive base other than 1 and slopes other than 0"));
        if (camera) {
            // The straight segment below the break meets the logarithm there,
            // by default with the logarithm's slope.
            const double atBreak = p.linSideSlope * p.linSideBreak + p.linSideOffset;
            if (!hasBreak || !(atBreak > 0.0))
                return fail(QStringLiteral("the camera Log styles need a linSideBreak where logarithms exist"));
            p.logSideBreak = p.logSideSlope * std::log(atBreak) / std::log(p.base) + p.logSideOffset;
            if (!hasSlope)
                p.linearSlope = p.logSideSlope * p.linSideSlope / (atBreak * std::log(p.base));
            if (p.linearSlope == 0.0)
                return fail(QStringLiteral("linearSlope must not be 0"));
        }
        if (film)
            return fail(QStringLiteral("LogParams mix film-style parameters (gamma, refWhite, ...) with the "
                                       "others (base, logSideSlope, ...)"));
        others = true;
        for (int c = 0; c < 3; ++c) {
            if (only < 0 || only == c)
                log.params[c] = p;
        }
        return skipElement();
    });
    if (!read)
        return false;
    if (camera && std::isnan(log.params[0].linSideBreak + log.params[1].linSideBreak + log.params[2].linSideBreak))
        return failAt(node.line, QStringLiteral("the camera Log styles need LogParams for every channel"));
    if ((film || (before2 && filmStyles)) && !(filmSet[0] && filmSet[1] && filmSet[2]))
        return failAt(node.line, QStringLiteral("film-style LogParams needed for every channel"));
    if (m_inverted) {
        // Each style and its inverse are neighbours in LogStyle.
        log.style = LogStyle(int(log.style) ^ 1);
    }
    return true;
}

bool ProcessListParser::parseExponent(Node &node, Exponent &exponent, bool gammaNames)
{
    static const struct
    {
        const char *text;
        ExponentStyle style;
        bool reverse;
    } kStyles[] = {{"basicFwd", ExponentStyle::Basic, false},
                   {"basicRev", ExponentStyle::Basic, true},
                   {"basicMirrorFwd", ExponentStyle::BasicMirror, false},
                   {"basicMirrorRev", ExponentStyle::BasicMirror, true},
                   {"basicPassThruFwd", ExponentStyle::BasicPassThru, false},
                   {"basicPassThruRev", ExponentStyle::BasicPassThru, true},
                   {"moncurveFwd", ExponentStyle::Moncurve, false},
                   {"moncurveRev", ExponentStyle::Moncurve, true},
                   {"moncurveMirrorFwd", ExponentStyle::MoncurveMirror, false},
                   {"moncurveMirrorRev", ExponentStyle::MoncurveMirror, true}};
    const auto *style = parseStyle(kStyles);
    if (!style)
        return false;
    exponent.style = style->style;
    exponent.reverse = style->reverse != m_inverted;
    const bool moncurve =
        exponent.style == ExponentStyle::Moncurve || exponent.style == ExponentStyle::MoncurveMirror;
    // The mirror and pass-through styles came with 2.0 (and CLF 3).
    if (exponent.style != ExponentStyle::Basic && exponent.style != ExponentStyle::Moncurve
        && !needVersion(200, QStringLiteral("style=\"%1\"").arg(QLatin1String(style->text))))
        return false;
    // The transform format's older Gamma node names the same parameters
    // GammaParams and gamma.
    const QLatin1String paramsName(gammaNames ? "GammaParams" : "ExponentParams");
    const char *exponentName = gammaNames ? "gamma" : "exponent";
    bool set[3] = {false, false, false};
    const bool read = readChildren([&] {
        if (m_xml.name() != paramsName)
            return skipElement();
        const QXmlStreamAttributes attributes = m_xml.attributes();
        double g = 1.0, o = 0.0;
        bool hasExponent = false, hasOffset = false;
        if (!attributeNumber(attributes, exponentName, &g, &hasExponent)
            || !attributeNumber(attributes, "offset", &o, &hasOffset))
            return false;
        // Only the monitor-curve styles have an offset.
        if (!moncurve && hasOffset)
            return fail(QStringLiteral("offset= is a parameter of the moncurve styles only, not of style=\"%1\"")
                            .arg(QLatin1String(style->text)));
        if (!hasExponent || (moncurve && !hasOffset))
            return fail(QStringLiteral("%1 needs %2%3").arg(paramsName, QLatin1String(exponentName),
                                                              QLatin1String(moncurve ? " and offset" : "")));
        if (moncurve ? !(g >= 1.0 && o >= 0.0) : !(g > 0.0))
            return fail(QStringLiteral("%1 %2 is outside the style's range").arg(QLatin1String(exponentName)).arg(g));
        // The transform format's lists from 1.5 on may give alpha its own
        // parameters, which are read and left out.
        if (!m_clf && m_version >= 105
            && attributes.value(QLatin1String("channel")).compare(QLatin1String("A"), Qt::CaseInsensitive) == 0)
            return skipElement();
        const int only = channelOf(attributes);
        if (only == -2)
            return fail(QStringLiteral("%1 channel is not R, G or B").arg(paramsName));
        for (int c = 0; c < 3; ++c) {
            if (only < 0 || only == c) {
                exponent.exponent[c] = g;
                exponent.offset[c] = o;
                set[c] = true;
            }
        }
        return skipElement();
    });
    if (read && !(set[0] && set[1] && set[2]))
        return failAt(node.line, QStringLiteral("%1 needed for every channel").arg(paramsName));
    return read;
}

bool ProcessListParser::parseExposureContrast(Node &node, ExposureContrast &ec)
{
    static const struct
    {
        const char *text;
        ExposureContrastStyle style;
        bool reverse;
    } kStyles[] = {{"linear", ExposureContrastStyle::Linear, false}, {"linearRev", ExposureContrastStyle::Linear, true},
                   {"video", ExposureContrastStyle::Video, false},   {"videoRev", ExposureContrastStyle::Video, true},
                   {"log", ExposureContrastStyle::Log, false},       {"logRev", ExposureContrastStyle::Log, true}};
    const auto *style = parseStyle(kStyles);
    if (!style)
        return false;
    ec.style = style->style;
    ec.reverse = style->reverse != m_inverted;
    bool haveParams = false;
    // ECParams holds the values; DynamicParameter elements mark some of them
    // as an application's to change, and the values stated are taken.
    const bool read = readChildren([&] {
        if (m_xml.name() != QLatin1String("ECParams"))
            return skipElement();
        const QXmlStreamAttributes attributes = m_xml.attributes();
        bool hasExposure = false, hasContrast = false, hasPivot = false;
        if (!attributeNumber(attributes, "exposure", &ec.exposure, &hasExposure)
            || !attributeNumber(attributes, "contrast", &ec.contrast, &hasContrast)
            || !attributeNumber(attributes, "gamma", &ec.gamma) || !attributeNumber(attributes, "pivot", &ec.pivot, &hasPivot)
            || !attributeNumber(attributes, "logExposureStep", &ec.logExposureStep)
            || !attributeNumber(attributes, "logMidGray", &ec.logMidGray))
            return false;
        if (!hasExposure || !hasContrast || !hasPivot)
            return fail(QStringLiteral("ECParams need exposure, contrast and pivot"));
        haveParams = true;
        return skipElement();
    });
    return read && (haveParams || failAt(node.line, QStringLiteral("an ExposureContrast without <ECParams>")));
}

bool ProcessListParser::parseFixedFunction(Node &node, FixedFunction &function, bool acesNode)
{
    // The ACES node (from 1.5) is the older form, with the surround's gamma
    // in an ACESParams element; FixedFunction (from 2.0) gives its
    // parameters in a params attribute.
    if (!needVersion(acesNode ? 105 : 200, QStringLiteral("a <%1> node").arg(elementName())))
        return false;
    static const struct
    {
        const char *text;
        FixedStyle style;
        int params;
    } kStyles[] = {{"RedMod03Fwd", FixedStyle::RedMod03Fwd, 0},
                   {"RedMod03Rev", FixedStyle::RedMod03Rev, 0},
                   {"RedMod10Fwd", FixedStyle::RedMod10Fwd, 0},
                   {"RedMod10Rev", FixedStyle::RedMod10Rev, 0},
                   {"Glow03Fwd", FixedStyle::Glow03Fwd, 0},
                   {"Glow03Rev", FixedStyle::Glow03Rev, 0},
                   {"Glow10Fwd", FixedStyle::Glow10Fwd, 0},
                   {"Glow10Rev", FixedStyle::Glow10Rev, 0},
                   {"DarkToDim10", FixedStyle::DarkToDim10, 0},
                   {"DimToDark10", FixedStyle::DimToDark10, 0},
                   {"GamutComp13Fwd", FixedStyle::GamutComp13Fwd, 7},
                   {"GamutComp13Rev", FixedStyle::GamutComp13Rev, 7},
                   {"Surround", FixedStyle::Rec2100SurroundFwd, 1}, // the older name
                   {"Rec2100SurroundFwd", FixedStyle::Rec2100SurroundFwd, 1},
                   {"Rec2100SurroundRev", FixedStyle::Rec2100SurroundRev, 1},
                   {"RGB_TO_HSV", FixedStyle::RgbToHsv, 0},
                   {"HSV_TO_RGB", FixedStyle::HsvToRgb, 0},
                   {"XYZ_TO_xyY", FixedStyle::XyzToXyY, 0},
                   {"xyY_TO_XYZ", FixedStyle::XyYToXyz, 0},
                   {"XYZ_TO_uvY", FixedStyle::XyzToUvY, 0},
                   {"uvY_TO_XYZ", FixedStyle::UvYToXyz, 0},
                   {"XYZ_TO_LUV", FixedStyle::XyzToLuv, 0},
                   {"LUV_TO_XYZ", FixedStyle::LuvToXyz, 0}};
    const auto *style = parseStyle(kStyles);
    if (!style)
        return false;
    function.style = style->style;
    int count = 0;
    const QString name = elementName();
    if (!acesNode) {
        const QStringRef params = m_xml.attributes().value(QLatin1String("params"));
        for (const QStringRef &field : params.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            double v = 0.0;
            if (count == 7 || !textToNumber(field, &v) || !std::isfinite(v))
                return fail(QStringLiteral("params=\"%1\" is not a list of up to 7 finite numbers").arg(params));
            function.params[count++] = v;
        }
    }
    const bool read = readChildren([&] {
        if (!acesNode || m_xml.name() != QLatin1String("ACESParams"))
            return skipElement();
        bool present = false;
        if (!attributeNumber(m_xml.attributes(), "gamma", &function.params[0], &present))
            return false;
        count = present ? 1 : count;
        return skipElement();
    });
    if (!read)
        return false;
    if (count != style->params)
        return failAt(node.line, QStringLiteral("<%1> style=\"%2\" takes %3 parameters, not %4")
                                     .arg(name, QLatin1String(style->text))
                                     .arg(style->params)
                                     .arg(count));
    if (m_inverted) {
        // Each style and its inverse are neighbours in FixedStyle.
        function.style = FixedStyle(int(function.style) ^ 1);
    }
    const double *p = function.params;
    if (style->params == 1 && !(p[0] >= 0.01 && p[0] <= 100.0))
        return failAt(node.line, QStringLiteral("the surround's gamma %1 is outside 0.01..100").arg(p[0]));
    if (style->params == 7) {
        for (int c = 0; c < 3; ++c) {
            if (!(p[c] >= 1.001 && p[c] <= 65504.0) || !(p[3 + c] >= 0.0 && p[3 + c] <= 0.9995))
                return failAt(node.line, QStringLiteral("the gamut compression needs limits in 1.001..65504 and "
                                                        "thresholds in 0..0.9995"));
        }
        if (!(p[6] >= 1.0 && p[6] <= 65504.0))
            return failAt(node.line, QStringLiteral("the gamut compression needs a power in 1..65504"));
    }
    return true;
}

bool ProcessListParser::attributeNumbers(const QXmlStreamAttributes &attributes, const char *name, double *numbers,
                                         int count)
{
    const QLatin1String key(name);
    const QStringRef text = attributes.value(key);
    if (text.isNull())
        return fail(QStringLiteral("<%1> needs %2=").arg(elementName(), key));
    const QVector<QStringRef> fields = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    bool ok = fields.size() == count;
    for (int i = 0; ok && i < count; ++i)
        ok = textToNumber(fields[i], &numbers[i]) && std::isfinite(numbers[i]);
    if (!ok)
        return fail(QStringLiteral("<%1> %2=\"%3\" is not %4 finite number%5")
                        .arg(elementName(), key, text.toString()).arg(count).arg(count == 1 ? "" : "s"));
    return true;
}

bool ProcessListParser::parseGradingPrimary(GradingPrimary &primary)
{
    if (!needVersion(200, QStringLiteral("a <GradingPrimary> node")))
        return false;
    static const struct
    {
        const char *text;
        GradingStyle style;
        bool reverse;
    } kStyles[] = {{"log", GradingStyle::Log, false},       {"logRev", GradingStyle::Log, true},
                   {"linear", GradingStyle::Linear, false}, {"linearRev", GradingStyle::Linear, true},
                   {"video", GradingStyle::Video, false},   {"videoRev", GradingStyle::Video, true}};
    const auto *style = parseStyle(kStyles);
    if (!style)
        return false;
    const qint64 line = m_xml.lineNumber();
    // The controls as the file gives them: red, green, blue and master.
    enum { Brightness, Contrast, Gamma, Offset, Exposure, Lift, Gain, Controls };
    static const struct
    {
        const char *text;
    } kControls[] = {{"Brightness"}, {"Contrast"}, {"Gamma"}, {"Offset"}, {"Exposure"}, {"Lift"}, {"Gain"}};
    double rgbm[Controls][4] = {{0, 0, 0, 0}, {1, 1, 1, 1}, {1, 1, 1, 1}, {0, 0, 0, 0},
                                {0, 0, 0, 0}, {0, 0, 0, 0}, {1, 1, 1, 1}};
    double pivot = style->style == GradingStyle::Log ? -0.2 : 0.18, pivotBlack = 0.0, pivotWhite = 1.0;
    double saturation = 1.0, clampBlack = -INFINITY, clampWhite = INFINITY;
    // Each element's attributes: those it may have, those it needs (all, or
    // at least one).
    auto attributesOf = [this](const QXmlStreamAttributes &attributes, std::initializer_list<const char *> names,
                               bool needAll) {
        int found = 0;
        for (const QXmlStreamAttribute &a : attributes) {
            if (std::none_of(names.begin(), names.end(), [&](const char *n) { return a.name() == QLatin1String(n); }))
                return fail(QStringLiteral("<%1> has no attribute %2=").arg(elementName(), a.name().toString()));
            ++found;
        }
        if (needAll ? found < int(names.size()) : found == 0)
            return fail(QStringLiteral("<%1> needs %2").arg(elementName(), QStringList([&] {
                QStringList l;
                for (const char *n : names)
                    l << QLatin1String(n) + QLatin1Char('=');
                return l;
            }()).join(needAll ? QLatin1String(" and ") : QLatin1String(" or "))));
        return true;
    };
    const bool read = readChildren([&] {
        const QXmlStreamAttributes attributes = m_xml.attributes();
        bool present = false;
        if (const auto *control = lookUp(kControls, m_xml.name())) {
            double *values = rgbm[control - kControls];
            if (!attributesOf(attributes, {"rgb", "master"}, true) || !attributeNumbers(attributes, "rgb", values, 3)
                || !attributeNumbers(attributes, "master", values + 3, 1))
                return false;
        } else if (m_xml.name() == QLatin1String("Saturation")) {
            if (!attributesOf(attributes, {"master"}, true) || !attributeNumbers(attributes, "master", &saturation, 1))
                return false;
        } else if (m_xml.name() == QLatin1String("Pivot")) {
            if (!attributesOf(attributes, {"contrast", "black", "white"}, false)
                || !attributeNumber(attributes, "contrast", &pivot, &present)
                || !attributeNumber(attributes, "black", &pivotBlack, &present)
                || !attributeNumber(attributes, "white", &pivotWhite, &present))
                return false;
        } else if (m_xml.name() == QLatin1String("Clamp")) {
            if (!attributesOf(attributes, {"black", "white"}, false)
                || !attributeNumber(attributes, "black", &clampBlack, &present)
                || !attributeNumber(attributes, "white", &clampWhite, &present))
                return false;
        }
        // Description, DynamicParameter and anything else are read past: a
        // dynamic node takes the values the file states, as ExposureContrast
        // does (OpenColorIO 2.1 leaves a dynamic GradingPrimary at its
        // defaults instead).
        return skipElement();
    });
    if (!read)
        return false;

    // The peer's bounds: gammas (in the log and video styles) and linear
    // contrasts of 0.01 or more, pivots a hundredth apart, clamps in order.
    constexpr double kLeast = 0.01 - 1e-6;
    const bool linear = style->style == GradingStyle::Linear;
    const double *bounded = rgbm[linear ? Contrast : Gamma];
    if (std::any_of(bounded, bounded + 4, [](double v) { return v < kLeast; }))
        return failAt(line, QStringLiteral("a GradingPrimary %1 below 0.01").arg(linear ? "contrast" : "gamma"));
    if (pivotWhite - pivotBlack < kLeast)
        return failAt(line, QStringLiteral("a GradingPrimary needs its black pivot 0.01 or more below its white pivot"));
    if (clampBlack > clampWhite)
        return failAt(line, QStringLiteral("a GradingPrimary clamps black above white"));

    GradingPrimary &p = primary;
    p.style = style->style;
    p.reverse = style->reverse != m_inverted;
    p.pivotBlack = pivotBlack;
    p.pivotWhite = pivotWhite;
    p.saturation = saturation;
    p.clampBlack = clampBlack;
    p.clampWhite = clampWhite;
    const bool rev = p.reverse;
    auto sum = [&](int control, int c) { return rgbm[control][3] + rgbm[control][c]; };
    auto product = [&](int control, int c) { return rgbm[control][3] * rgbm[control][c]; };
    auto nonZero = [](double v) { return v == 0.0 ? 1.0 : v; };
    for (int c = 0; c < 3; ++c) {
        switch (p.style) {
        case GradingStyle::Log:
            // Brightness in steps of 6.25 ten-bit codes.
            p.add[c] = (rev ? -1.0 : 1.0) * sum(Brightness, c) * 6.25 / 1023.0;
            p.scale[c] = rev ? 1.0 / nonZero(product(Contrast, c)) : product(Contrast, c);
            p.power[c] = rev ? product(Gamma, c) : 1.0 / product(Gamma, c);
            break;
        case GradingStyle::Linear:
            p.add[c] = (rev ? -1.0 : 1.0) * sum(Offset, c);
            p.scale[c] = rev ? 1.0 / std::exp2(sum(Exposure, c)) : std::exp2(sum(Exposure, c));
            p.power[c] = rev ? 1.0 / product(Contrast, c) : product(Contrast, c);
            break;
        case GradingStyle::Video: {
            p.add[c] = (rev ? -1.0 : 1.0) * (sum(Offset, c) + sum(Lift, c));
            // Lift moves black and gain white; the slope about the black
            // pivot that joins them.
            const double den = pivotWhite / nonZero(product(Gain, c)) + sum(Lift, c) - pivotBlack;
            p.scale[c] = rev ? den / (pivotWhite - pivotBlack) : (pivotWhite - pivotBlack) / nonZero(den);
            p.power[c] = rev ? product(Gamma, c) : 1.0 / product(Gamma, c);
            break;
        }
        }
    }
    p.pivot = p.style == GradingStyle::Log ? 0.5 + pivot * 0.5 : 0.18 * std::exp2(pivot);
    return true;
}

bool ProcessListParser::parseGradingRgbCurve(GradingRgbCurve &rgbCurve)
{
    if (!needVersion(200, QStringLiteral("a <GradingRGBCurve> node")))
        return false;
    static const struct
    {
        const char *text;
        GradingStyle style;
        bool reverse;
    } kStyles[] = {{"log", GradingStyle::Log, false},       {"logRev", GradingStyle::Log, true},
                   {"linear", GradingStyle::Linear, false}, {"linearRev", GradingStyle::Linear, true},
                   {"video", GradingStyle::Video, false},   {"videoRev", GradingStyle::Video, true}};
    const auto *style = parseStyle(kStyles);
    if (!style)
        return false;
    const qint64 line = m_xml.lineNumber();
    const QStringRef bypass = m_xml.attributes().value(QLatin1String("bypassLinToLog"));
    if (!bypass.isNull() && bypass.compare(QLatin1String("true"), Qt::CaseInsensitive) != 0)
        return fail(QStringLiteral("bypassLinToLog=\"%1\" is not \"true\"").arg(bypass));
    // The peer's bound on the knots of all four curves together (a curve of
    // n points has n to 2n - 1), which bounds the points read too.
    constexpr int kMaxKnots = 60, kMaxNumbers = 2 * kMaxKnots;
    static const struct
    {
        const char *text;
    } kCurves[] = {{"Red"}, {"Green"}, {"Blue"}, {"Master"}};
    // Each curve starts as the style's identity, three points.
    const float far = style->style == GradingStyle::Linear ? 7.0f : 1.0f, near = style->style == GradingStyle::Linear ? -7.0f : 0.0f;
    struct Points
    {
        std::vector<float> x, y, slopes;
    } points[4];
    for (Points &p : points)
        p = {{near, (near + far) / 2, far}, {near, (near + far) / 2, far}, {0.0f, 0.0f, 0.0f}};
    auto readFloats = [this](std::vector<float> &values, const QString &what) {
        values.clear();
        return readTokens([&](const char *token, int length, qint64 tokenLine) {
            double v = 0.0;
            if (!tokenToNumber(token, length, &v) || !std::isfinite(v) || std::fabs(v) > FLT_MAX)
                return failAt(tokenLine, QStringLiteral("%1: \"%2\" is not a finite number")
                                             .arg(what, QLatin1String(token, length)));
            if (int(values.size()) == kMaxNumbers)
                return failAt(tokenLine, QStringLiteral("%1 holds more than %2 numbers").arg(what).arg(kMaxNumbers));
            values.push_back(float(v));
            return true;
        });
    };
    const bool read = readChildren([&] {
        const auto *curve = lookUp(kCurves, m_xml.name());
        if (!curve)
            return skipElement(); // Description, DynamicParameter (the values stated are taken)
        Points &p = points[curve - kCurves];
        const QString name = elementName();
        return readChildren([&] {
            std::vector<float> values;
            const qint64 at = m_xml.lineNumber();
            if (m_xml.name() == QLatin1String("ControlPoints")) {
                if (!readFloats(values, name + QStringLiteral(" ControlPoints")))
                    return false;
                if (values.size() % 2 != 0 || values.size() < 4)
                    return failAt(at, QStringLiteral("%1 ControlPoints hold %2 numbers, not pairs of x and y for two "
                                                     "points or more").arg(name).arg(values.size()));
                p.x.clear();
                p.y.clear();
                for (size_t k = 0; k < values.size(); k += 2) {
                    // Each point right of the one before: a repeated x has
                    // no slope between the two.
                    if (!p.x.empty() && !(values[k] > p.x.back()))
                        return failAt(at, QStringLiteral("%1 ControlPoints: x %2 does not rise from %3")
                                              .arg(name).arg(values[k]).arg(p.x.back()));
                    p.x.push_back(values[k]);
                    p.y.push_back(values[k + 1]);
                }
                p.slopes.resize(p.x.size(), 0.0f);
                return true;
            }
            if (m_xml.name() == QLatin1String("Slopes")) {
                if (!readFloats(values, name + QStringLiteral(" Slopes")))
                    return false;
                if (values.size() != p.x.size())
                    return failAt(at, QStringLiteral("%1 Slopes hold %2 numbers, one a control point (%3)")
                                          .arg(name).arg(values.size()).arg(p.x.size()));
                p.slopes = values;
                return true;
            }
            return skipElement();
        });
    });
    if (!read)
        return false;
    int knots = 0;
    bool identity = true;
    for (int k = 0; k < 4; ++k) {
        fitGradingSpline(points[k].x, points[k].y, points[k].slopes, rgbCurve.curves[k]);
        knots += int(rgbCurve.curves[k].knots.size());
        identity = identity && rgbCurve.curves[k].a.empty();
    }
    if (knots > kMaxKnots)
        return failAt(line, QStringLiteral("a GradingRGBCurve whose curves need %1 knots, more than %2").arg(knots).arg(kMaxKnots));
    rgbCurve.reverse = style->reverse != m_inverted;
    // Curves that all leave the values alone skip the log encoding too.
    rgbCurve.linToLog = style->style == GradingStyle::Linear && bypass.isNull() && !identity;
    return true;
}

bool ProcessListParser::parseGradingTone(GradingTone &tone)
{
    if (!needVersion(200, QStringLiteral("a <GradingTone> node")))
        return false;
    static const struct
    {
        const char *text;
        GradingStyle style;
        bool reverse;
    } kStyles[] = {{"log", GradingStyle::Log, false},       {"logRev", GradingStyle::Log, true},
                   {"linear", GradingStyle::Linear, false}, {"linearRev", GradingStyle::Linear, true},
                   {"video", GradingStyle::Video, false},   {"videoRev", GradingStyle::Video, true}};
    const auto *style = parseStyle(kStyles);
    if (!style)
        return false;
    const qint64 line = m_xml.lineNumber();
    tone.style = style->style;
    tone.reverse = style->reverse != m_inverted;
    // The zones' elements, the names of their start and width attributes,
    // and each style's defaults for them.
    static const struct
    {
        const char *text;
        const char *start, *width;
        double log[2], linear[2], video[2];
    } kZones[] = {{"Blacks", "start", "width", {0.4, 0.4}, {0.0, 4.0}, {0.4, 0.4}},
                  {"Shadows", "start", "pivot", {0.5, 0.0}, {2.0, -7.0}, {0.6, 0.0}},
                  {"Midtones", "center", "width", {0.4, 0.6}, {0.0, 8.0}, {0.4, 0.7}},
                  {"Highlights", "start", "pivot", {0.3, 1.0}, {-2.0, 9.0}, {0.2, 1.0}},
                  {"Whites", "start", "width", {0.4, 0.5}, {0.0, 8.0}, {0.5, 0.5}}};
    for (int z = 0; z < GradingTone::Zones; ++z) {
        const auto &k = kZones[z];
        const double *defaults = tone.style == GradingStyle::Log ? k.log : tone.style == GradingStyle::Linear ? k.linear : k.video;
        double *v = tone.zones[z];
        v[0] = v[1] = v[2] = v[3] = 1.0;
        v[4] = defaults[0];
        v[5] = defaults[1];
    }
    const bool read = readChildren([&] {
        const QXmlStreamAttributes attributes = m_xml.attributes();
        const auto *zone = lookUp(kZones, m_xml.name());
        if (zone) {
            double *v = tone.zones[zone - kZones];
            for (const QXmlStreamAttribute &a : attributes) {
                if (a.name() != QLatin1String("rgb") && a.name() != QLatin1String("master")
                    && a.name() != QLatin1String(zone->start) && a.name() != QLatin1String(zone->width))
                    return fail(QStringLiteral("<%1> has no attribute %2=").arg(elementName(), a.name().toString()));
            }
            if (!attributeNumbers(attributes, "rgb", v, 3) || !attributeNumbers(attributes, "master", v + 3, 1)
                || !attributeNumbers(attributes, zone->start, v + 4, 1) || !attributeNumbers(attributes, zone->width, v + 5, 1))
                return false;
        } else if (m_xml.name() == QLatin1String("SContrast")) {
            if (attributes.size() != 1 || !attributeNumbers(attributes, "master", &tone.sContrast, 1))
                return fail(QStringLiteral("<SContrast> needs master= alone"));
        }
        return skipElement(); // Description, DynamicParameter (the values stated are taken)
    });
    if (!read)
        return false;
    // The peer's bounds: blacks, midtones and whites in 0.1..1.9, shadows
    // and highlights in 0.2..1.8, widths of 0.01 or more, starts a
    // hundredth away from the pivots, s-contrast in 0.01..1.99.
    constexpr double kError = 1e-6;
    for (int z = 0; z < GradingTone::Zones; ++z) {
        const bool sh = z == GradingTone::Shadows || z == GradingTone::Highlights;
        const double lo = (sh ? 0.2 : 0.1) - kError, hi = (sh ? 1.8 : 1.9) + kError;
        const double *v = tone.zones[z];
        if (std::any_of(v, v + 4, [&](double x) { return !(x >= lo && x <= hi); }))
            return failAt(line, QStringLiteral("GradingTone %1 outside %2..%3")
                                    .arg(QString(kZones[z].text).toLower()).arg(sh ? 0.2 : 0.1).arg(sh ? 1.8 : 1.9));
        if (!sh && v[5] < 0.01 - kError)
            return failAt(line, QStringLiteral("GradingTone %1 width below 0.01").arg(QString(kZones[z].text).toLower()));
    }
    if (tone.zones[GradingTone::Shadows][4] < tone.zones[GradingTone::Shadows][5] + 0.01 - kError)
        return failAt(line, QStringLiteral("GradingTone shadows start less than 0.01 above their pivot"));
    if (tone.zones[GradingTone::Highlights][4] > tone.zones[GradingTone::Highlights][5] - 0.01 + kError)
        return failAt(line, QStringLiteral("GradingTone highlights start less than 0.01 below their pivot"));
    if (!(tone.sContrast >= 0.01 - kError && tone.sContrast <= 1.99 - kError))
        return failAt(line, QStringLiteral("GradingTone s-contrast outside 0.01..1.99"));
    tone.prepare();
    return true;
}

bool ProcessListParser::parseReference(const Node &node)
{
    const QXmlStreamAttributes attributes = m_xml.attributes();
    auto chainText = [this](const QString &last) {
        QStringList names;
        for (const QString &path : m_chain)
            names << QFileInfo(path).fileName();
        return (names << last).join(QStringLiteral(" -> "));
    };
    // An alias names a file through a configuration's search paths, which a
    // file on its own does not have.
    const QString alias = attributes.value(QLatin1String("alias")).toString();
    if (!alias.isEmpty())
        return fail(QStringLiteral("a Reference by alias=\"%1\" needs a configuration (%2)")
                        .arg(alias, chainText(QStringLiteral("alias %1").arg(alias))));
    const QString path = attributes.value(QLatin1String("path")).toString();
    if (path.isEmpty())
        return fail(QStringLiteral("a Reference needs a path"));
    // inverted="true" applies the list's inverse: each node inverted, in
    // the opposite order.
    const QStringRef invertedText = attributes.value(QLatin1String("inverted"));
    const bool inverted = invertedText.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    if (!invertedText.isEmpty() && !inverted && invertedText.compare(QLatin1String("false"), Qt::CaseInsensitive) != 0)
        return fail(QStringLiteral("a Reference inverted=\"%1\" is not \"true\" or \"false\"").arg(invertedText));
    // path is relative to basePath, and basePath (or path, when there is
    // none) to the folder of the file that holds the Reference.
    const QDir here = QFileInfo(m_file->fileName()).absoluteDir();
    const QString basePath = attributes.value(QLatin1String("basePath")).toString();
    const QDir base(basePath.isEmpty() ? here.absolutePath() : here.absoluteFilePath(basePath));
    const QString target = QDir::cleanPath(base.absoluteFilePath(path));
    const QString canonical = QFileInfo(target).canonicalFilePath();
    if (canonical.isEmpty() || !QFileInfo(canonical).isFile())
        return fail(QStringLiteral("the Reference path=\"%1\" names no file: %2 (%3)")
                        .arg(path, target, chainText(QFileInfo(target).fileName())));
    if (m_chain.contains(canonical))
        return fail(QStringLiteral("the Reference path=\"%1\" refers back to a list that refers to it (%2)")
                        .arg(path, chainText(QFileInfo(canonical).fileName())));
    if (++*m_filesRead > kMaxReferencedFiles)
        return fail(QStringLiteral("more than %1 files read through References").arg(kMaxReferencedFiles));
    if (!skipElement())
        return false;
    QFile file(canonical);
    if (!file.open(QIODevice::ReadOnly))
        return failAt(node.line, QStringLiteral("the Reference path=\"%1\" cannot be opened: %2 (%3)")
                                     .arg(path, file.errorString(), chainText(QFileInfo(canonical).fileName())));
    ProcessListParser inner(&file, canonical.endsWith(QLatin1String(".clf"), Qt::CaseInsensitive),
                            QStringList(m_chain) << canonical, m_filesRead, m_inverted != inverted);
    if (!inner.parse())
        // Each level adds its file and line: "line 3: in mid.ctf, line 4: in
        // inner.ctf, line 9: reason".
        return failAt(node.line, QStringLiteral("in %1, %2").arg(QFileInfo(canonical).fileName(), inner.error));
    if (inverted)
        std::reverse(inner.nodes.begin(), inner.nodes.end());
    for (Node &n : inner.nodes)
        nodes.push_back(std::move(n));
    return true;
}

} // namespace

bool parseProcessList(QFile &file, bool clfFile, std::vector<Node> &nodes, QString &error)
{
    int filesRead = 1;
    ProcessListParser parser(&file, clfFile, QStringList(QFileInfo(file.fileName()).canonicalFilePath()), &filesRead);
    const bool ok = parser.parse();
    nodes = std::move(parser.nodes);
    error = parser.error;
    return ok;
}

} // namespace LutClf
