#include "formats/clf/ClfParser.h"

#include "formats/clf/ClfHalf.h"
#include "lut/LutScan.h"

#include <QFile>
#include <QXmlStreamReader>

#include <charconv>
#include <cstring>

namespace LutClf {

namespace {

// The XML reader gathers the whole text of an element before it hands it
// over, at two bytes a character, so a run of this many bytes without the
// end of a token is refused (a 256-point cube with ten characters a value
// stays below it).
constexpr qint64 kMaxTokenBytes = qint64(512) << 20;
constexpr qint64 kReadBlock = 1 << 20;

enum class NodeKind { Lut1D, Lut3D, Range, Matrix, Cdl, Log, Exponent };

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
class ProcessListParser
{
public:
    ProcessListParser(QFile *file, bool clfFile) : m_file(file), m_clfFile(clfFile) {}

    bool parse();
    std::vector<Node> nodes;
    QString error;

private:
    // The next token, feeding the reader as it needs; Invalid (with error
    // set) on a failure.
    QXmlStreamReader::TokenType next();
    // Record "line N: reason" (the first failure only) and return false.
    bool fail(const QString &reason) { return failAt(m_xml.lineNumber(), reason); }
    bool failAt(qint64 line, const QString &reason);
    // Calls child() at each child element of the current element, up to its
    // end; child reads the element whole (or skips it) and returns false to
    // stop.
    template <typename Child>
    bool readChildren(Child &&child);
    // Reads past the end of the current element and everything in it.
    bool skipElement();
    // Reads the text of the current element up to its end (a child element
    // is an error) and hands each blank-separated token to take.
    template <typename Take>
    bool readText(Take &&take);
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
    bool parseLut(Node &node, bool is3D);
    bool parseLutArray(const Node &node, LutRead &lut);
    bool parseIndexMap(const Node &node, LutCurve &curve);
    bool parseRange(Node &node, Range &range);
    bool parseMatrix(Node &node, Matrix &matrix);
    bool parseCdl(Node &node, Cdl &cdl);
    bool parseLog(Node &node, Log &log);
    bool parseExponent(Node &node, Exponent &exponent, bool gammaNames);

    QFile *m_file;
    bool m_clfFile;
    QXmlStreamReader m_xml;
    // The list's version as the transform format numbers them, major * 100
    // + minor: a CLF list (compCLFversion) of version 2.0 or before reads as
    // 1.7, a later one as 2.0; a CTF list without a version is 1.2.
    int m_version = 102;
    bool m_clf = false;      // the list gives compCLFversion
    QString m_versionText;   // as the file gives it, for messages
    QString m_lastOutDepth; // the outBitDepth of the node before
    qint64 m_fedSinceToken = 0;
    bool m_failed = false;
};

bool ProcessListParser::failAt(qint64 line, const QString &reason)
{
    if (!m_failed)
        error = QStringLiteral("line %1: %2").arg(line).arg(reason);
    m_failed = true;
    return false;
}

QXmlStreamReader::TokenType ProcessListParser::next()
{
    for (;;) {
        const QXmlStreamReader::TokenType token = m_xml.readNext();
        if (token != QXmlStreamReader::Invalid || m_xml.error() != QXmlStreamReader::PrematureEndOfDocumentError
            || m_file->atEnd()) {
            m_fedSinceToken = 0;
            if (token == QXmlStreamReader::Invalid)
                fail(m_xml.errorString());
            else if (token == QXmlStreamReader::DTD)
                fail(QStringLiteral("a document type declaration is not accepted in a process list"));
            return m_failed ? QXmlStreamReader::Invalid : token;
        }
        if (m_fedSinceToken > kMaxTokenBytes) {
            fail(QStringLiteral("more than %1 MiB of text without a tag").arg(kMaxTokenBytes >> 20));
            return QXmlStreamReader::Invalid;
        }
        const QByteArray block = m_file->read(kReadBlock);
        if (block.isEmpty()) {
            fail(QStringLiteral("read error: %1").arg(m_file->errorString()));
            return QXmlStreamReader::Invalid;
        }
        m_fedSinceToken += block.size();
        m_xml.addData(block);
    }
}

template <typename Child>
bool ProcessListParser::readChildren(Child &&child)
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

bool ProcessListParser::skipElement()
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

template <typename Take>
bool ProcessListParser::readText(Take &&take)
{
    const QString element = elementName();
    TokenSplitter splitter;
    for (;;) {
        switch (next()) {
        case QXmlStreamReader::Invalid:
            return false;
        case QXmlStreamReader::Characters:
            if (!splitter.feed(m_xml.text(), m_xml.lineNumber(), take))
                return false;
            break;
        case QXmlStreamReader::EndElement:
            return splitter.flush(take);
        case QXmlStreamReader::StartElement:
            return fail(QStringLiteral("<%1> inside <%2>").arg(elementName(), element));
        default:
            break;
        }
    }
}

bool ProcessListParser::readNumbers(double *numbers, int count, const QString &what)
{
    int n = 0;
    const qint64 line = m_xml.lineNumber();
    const bool ok = readText([&](const char *token, int length, qint64 tokenLine) {
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
                  {"Exponent", NodeKind::Exponent}, {"Gamma", NodeKind::Exponent}};
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
    bool ok = false;
    switch (kind) {
    case NodeKind::Lut1D:
    case NodeKind::Lut3D:
        ok = parseLut(node, kind == NodeKind::Lut3D);
        break;
    case NodeKind::Range:
        ok = parseRange(node, node.op.emplace<Range>());
        break;
    case NodeKind::Matrix:
        ok = parseMatrix(node, node.op.emplace<Matrix>());
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

bool ProcessListParser::parseLut(Node &node, bool is3D)
{
    const QXmlStreamAttributes attributes = m_xml.attributes();
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
    const QStringRef hue = attributes.value(QLatin1String("hueAdjust"));
    if (!hue.isEmpty() && hue != QLatin1String("none"))
        return fail(QStringLiteral("hueAdjust=\"%1\" is not evaluated").arg(hue));

    const bool read = readChildren([&] {
        if (m_xml.name() == QLatin1String("Array")) {
            if (lut.hasArray)
                return fail(QStringLiteral("a second <Array>"));
            return parseLutArray(node, lut);
        }
        if (m_xml.name() != QLatin1String("IndexMap"))
            return skipElement();
        // The transform format had IndexMap from 1.7 (CLF 2) and dropped it
        // with 2.0 (CLF 3), whose readers ignore it.
        if (m_version < 107 || m_version >= 200)
            return fail(QStringLiteral("<IndexMap> is read in CLF 2 lists and transform lists from 1.7 before 2.0; "
                                       "this list has %1")
                            .arg(m_versionText));
        if (is3D)
            return fail(QStringLiteral("an <IndexMap> of a LUT3D is not evaluated"));
        if (lut.hasArray || lut.hasIndexMap || lut.halfDomain)
            return fail(QStringLiteral("an <IndexMap> comes once, before the <Array> of a LUT1D over 0..1"));
        lut.hasIndexMap = true;
        return parseIndexMap(node, lut.indexMap);
    });
    if (!read)
        return false;
    if (!lut.hasArray)
        return failAt(node.line, QStringLiteral("no <Array>"));
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
    return true;
}

bool ProcessListParser::parseLutArray(const Node &node, LutRead &lut)
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
    // of the output depth like any others (as the peer reads them).
    const double outScale = node.outScale;
    qint64 count = 0;
    const bool read = readText([&](const char *token, int length, qint64 tokenLine) {
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
    const bool read = readText([&](const char *token, int length, qint64 line) {
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
    return true;
}

bool ProcessListParser::parseMatrix(Node &node, Matrix &matrix)
{
    bool haveArray = false;
    const bool read = readChildren([&] {
        if (m_xml.name() != QLatin1String("Array"))
            return skipElement();
        // "3 3", or "3 4" with the offsets as a fourth column; older files
        // add the number of components: "3 3 3", "3 4 3".
        const QString dim = m_xml.attributes().value(QLatin1String("dim")).toString().simplified();
        const int columns = dim == QLatin1String("3 3") || dim == QLatin1String("3 3 3")   ? 3
                            : dim == QLatin1String("3 4") || dim == QLatin1String("3 4 3") ? 4
                                                                                            : 0;
        if (!columns || haveArray)
            return fail(QStringLiteral("a Matrix needs one Array of dim=\"3 3\" or \"3 4\", not \"%1\"").arg(dim));
        haveArray = true;
        double values[12];
        if (!readNumbers(values, 3 * columns, QStringLiteral("the Matrix Array")))
            return false;
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                matrix.m[r][c] = values[r * columns + c] * node.inScale / node.outScale;
            matrix.m[r][3] = columns == 4 ? values[r * columns + 3] / node.outScale : 0.0;
        }
        return true;
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
    // Before 2.0 the transform format's Log took film-style parameters
    // (LogParams gamma, refWhite, ...): only the plain styles, which take
    // none, mean the same there.
    const bool filmStyle = !m_clf && m_version < 200;
    if (filmStyle && !plain)
        return fail(QStringLiteral("before version 2.0 a Log of style=\"%1\" takes film-style parameters, which are "
                                   "not evaluated; this list has %2")
                        .arg(QLatin1String(style->text), m_versionText));
    const bool read = readChildren([&] {
        if (m_xml.name() != QLatin1String("LogParams"))
            return skipElement();
        if (filmStyle)
            return fail(QStringLiteral("before version 2.0 LogParams are film-style parameters, which are not "
                                       "evaluated; this list has %1")
                            .arg(m_versionText));
        const QXmlStreamAttributes attributes = m_xml.attributes();
        // The film-style parameters of older transform files are another model.
        for (const char *film : {"gamma", "refWhite", "refBlack", "highlight", "shadow"}) {
            if (attributes.hasAttribute(QLatin1String(film)))
                return fail(QStringLiteral("LogParams %1= (film-style parameters) are not evaluated")
                                .arg(QLatin1String(film)));
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
        const int only = channelOf(attributes);
        if (only == -2)
            return fail(QStringLiteral("LogParams channel is not R, G or B"));
        for (int c = 0; c < 3; ++c) {
            if (only < 0 || only == c)
                log.params[c] = p;
        }
        return skipElement();
    });
    if (read && camera
        && std::isnan(log.params[0].linSideBreak + log.params[1].linSideBreak + log.params[2].linSideBreak))
        return failAt(node.line, QStringLiteral("the camera Log styles need LogParams for every channel"));
    return read;
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
    exponent.reverse = style->reverse;
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

} // namespace

bool parseProcessList(QFile &file, bool clfFile, std::vector<Node> &nodes, QString &error)
{
    ProcessListParser parser(&file, clfFile);
    const bool ok = parser.parse();
    nodes = std::move(parser.nodes);
    error = parser.error;
    return ok;
}

} // namespace LutClf
