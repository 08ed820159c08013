// The Common LUT Format (identifier 17, ".clf") and the Color Transform
// Format that extends it (identifier 18, ".ctf"): an XML ProcessList whose
// process nodes (LUT1D, LUT3D, Range, Matrix, ASC_CDL, Log, Exponent) are
// applied to a colour one after the other.
//
// Every node states the bit depth of its input and of its output
// (inBitDepth, outBitDepth: "8i", "10i", "12i", "16i" for integer codes up to
// 255, 1023, 4095 and 65535; "16f", "32f" for reals). Table values, Range
// limits and Matrix coefficients are given in those units and normalised
// here, so the list runs on normalised values from end to end, as a colour
// pipeline applies it. ASC_CDL, Log and Exponent parameters do not depend on
// the bit depths.
//
// A list the container can hold is read into its tables: one LUT3D or one
// LUT1D, either of them behind a Range (which becomes the table's input
// span), the LUT3D possibly behind a LUT1D shaper (the container's 1D table
// in front of its 3D table) and the LUT1D possibly indexed through an
// IndexMap (the container's shaper curves). Any other list is kept whole and
// evaluated by meaning.evaluate, which the bake path samples.
//
// The writer puts a 3D table into a list with one LUT3D and a 1D table into
// one LUT1D, reals with nine significant digits, which read back as the very
// floats they came from.

#include "calc/LutCalc.h"
#include "lut/LutScan.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// The XML reader gathers the whole text of an element before it hands it
// over, at two bytes a character, so a run of this many bytes without the
// end of a token is refused (a 256-point cube with ten characters a value
// stays below it).
constexpr qint64 kMaxTokenBytes = qint64(512) << 20;
constexpr qint64 kReadBlock = 1 << 20;

enum class NodeKind { Lut1D, Lut3D, Range, Matrix, Cdl, Log, Exponent };
enum class CdlStyle { Fwd, Rev, FwdNoClamp, RevNoClamp };
enum class LogStyle { Log10, Log2, AntiLog10, AntiLog2, LinToLog, LogToLin, CameraLinToLog, CameraLogToLin };
enum class ExponentStyle { Basic, BasicMirror, BasicPassThru, Moncurve, MoncurveMirror };

// The parameters of one channel of a Log node, with the derived values of
// the camera styles' linear segment.
struct LogParams
{
    double base = 2.0;
    double logSideSlope = 1.0;
    double logSideOffset = 0.0;
    double linSideSlope = 1.0;
    double linSideOffset = 0.0;
    double linSideBreak = NAN; // camera styles only
    double linearSlope = NAN;  // camera styles: derived when the file gives none
    double logSideBreak = 0.0; // derived
};

struct ClfNode
{
    NodeKind kind = NodeKind::Range;
    qint64 line = 0;
    double inScale = 1.0;
    double outScale = 1.0;

    // LUT1D and LUT3D: the normalised table in a container of its own, in
    // file order (red slowest for a LUT3D); an IndexMap (input values to
    // table indices) becomes the shaper curves of that container.
    std::shared_ptr<Read_LUTFile> table;
    bool halfDomain = false;
    bool trilinear = false;
    bool hasIndexMap = false;
    LutCurve indexMap;

    // Range, normalised.
    double minIn = 0.0, maxIn = 0.0, minOut = 0.0, maxOut = 0.0;
    bool hasMin = false, hasMax = false, clamp = true;

    // Matrix: three rows of three coefficients and an offset, normalised.
    double matrix[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};

    // ASC_CDL.
    CdlStyle cdlStyle = CdlStyle::Fwd;
    double slope[3] = {1.0, 1.0, 1.0};
    double offset[3] = {0.0, 0.0, 0.0};
    double power[3] = {1.0, 1.0, 1.0};
    double saturation = 1.0;

    // Log.
    LogStyle logStyle = LogStyle::Log10;
    LogParams log[3];

    // Exponent.
    ExponentStyle exponentStyle = ExponentStyle::Basic;
    bool reverse = false;
    double exponent[3] = {1.0, 1.0, 1.0};
    double exponentOffset[3] = {0.0, 0.0, 0.0};

    int tableSize() const { return !table ? 0 : kind == NodeKind::Lut3D ? table->size3D : table->size1D; }
    // True when the node makes one channel depend on another.
    bool mixesChannels() const
    {
        if (kind == NodeKind::Lut3D)
            return true;
        if (kind == NodeKind::Cdl)
            return saturation != 1.0;
        if (kind == NodeKind::Matrix) {
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c) {
                    if (r != c && matrix[r][c] != 0.0)
                        return true;
                }
            }
        }
        return false;
    }
};

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

// --- Half floats ------------------------------------------------------------

double halfToDouble(unsigned bits)
{
    const double sign = (bits & 0x8000u) ? -1.0 : 1.0;
    const int exponent = int((bits >> 10) & 0x1fu);
    const unsigned mantissa = bits & 0x3ffu;
    if (exponent == 0)
        return sign * std::ldexp(double(mantissa), -24);
    if (exponent == 31)
        return mantissa ? double(NAN) : sign * double(INFINITY);
    return sign * std::ldexp(double(mantissa | 0x400u), exponent - 25);
}

// The bit pattern of the finite half float nearest to x towards zero, with
// x's sign; magnitudes from the largest half (65504) on take the largest.
unsigned halfBitsTowardZero(double x)
{
    const double a = std::fabs(x);
    unsigned bits;
    if (!(a < 65504.0)) {
        bits = 0x7bffu;
    } else if (a < std::ldexp(1.0, -14)) {
        bits = unsigned(std::floor(std::ldexp(a, 24)));
    } else {
        int e = 0;
        const double fraction = std::frexp(a, &e); // a = fraction * 2^e, fraction in [0.5, 1)
        const unsigned mantissa = unsigned(std::floor((fraction * 2.0 - 1.0) * 1024.0));
        bits = (unsigned(e - 1 + 15) << 10) | mantissa;
    }
    return std::signbit(x) ? bits | 0x8000u : bits;
}

// A LUT1D over the half-float domain: entry i holds the output for the half
// whose bit pattern is i; between two halfs the output is interpolated
// linearly, and beyond the largest half it is that half's output.
double lookUpHalfDomain(const LutTable1D &table, int channel, double x)
{
    if (std::isnan(x))
        return x;
    const unsigned b0 = halfBitsTowardZero(x);
    const double y0 = table[int(b0)][channel];
    const double x0 = halfToDouble(b0);
    if (x == x0 || (b0 & 0x7fffu) == 0x7bffu)
        return y0;
    const unsigned b1 = b0 + 1;
    const double x1 = halfToDouble(b1);
    const double y1 = table[int(b1)][channel];
    return y0 + (y1 - y0) * (std::fabs(x) - std::fabs(x0)) / (std::fabs(x1) - std::fabs(x0));
}

// --- Evaluation -------------------------------------------------------------

double clamp01(double v)
{
    return v < 0.0 ? 0.0 : v > 1.0 ? 1.0 : v;
}

void applyCdl(const ClfNode &node, double rgb[3])
{
    const bool clamp = node.cdlStyle == CdlStyle::Fwd || node.cdlStyle == CdlStyle::Rev;
    auto luma = [](const double v[3]) { return 0.2126 * v[0] + 0.7152 * v[1] + 0.0722 * v[2]; };
    // A negative value keeps its sign through the power of the unclamped styles.
    auto power = [](double v, double p) { return v < 0.0 ? v : std::pow(v, p); };
    if (node.cdlStyle == CdlStyle::Fwd || node.cdlStyle == CdlStyle::FwdNoClamp) {
        for (int c = 0; c < 3; ++c) {
            double v = rgb[c] * node.slope[c] + node.offset[c];
            rgb[c] = power(clamp ? clamp01(v) : v, node.power[c]);
        }
        const double y = luma(rgb);
        for (int c = 0; c < 3; ++c) {
            const double v = y + node.saturation * (rgb[c] - y);
            rgb[c] = clamp ? clamp01(v) : v;
        }
        return;
    }
    if (clamp) {
        for (int c = 0; c < 3; ++c)
            rgb[c] = clamp01(rgb[c]);
    }
    const double y = luma(rgb);
    for (int c = 0; c < 3; ++c) {
        double v = y + (rgb[c] - y) / node.saturation;
        v = power(clamp ? clamp01(v) : v, 1.0 / node.power[c]);
        v = (v - node.offset[c]) / node.slope[c];
        rgb[c] = clamp ? clamp01(v) : v;
    }
}

double applyLog(LogStyle style, const LogParams &p, double x)
{
    // Logarithms of values at or below zero take the smallest normal float.
    auto logBase = [](double v, double base) { return std::log(std::max(v, double(FLT_MIN))) / std::log(base); };
    switch (style) {
    case LogStyle::Log10:
        return std::log10(std::max(x, double(FLT_MIN)));
    case LogStyle::Log2:
        return std::log2(std::max(x, double(FLT_MIN)));
    case LogStyle::AntiLog10:
        return std::pow(10.0, x);
    case LogStyle::AntiLog2:
        return std::exp2(x);
    case LogStyle::CameraLinToLog:
        if (x <= p.linSideBreak)
            return p.linearSlope * (x - p.linSideBreak) + p.logSideBreak;
        Q_FALLTHROUGH();
    case LogStyle::LinToLog:
        return p.logSideSlope * logBase(p.linSideSlope * x + p.linSideOffset, p.base) + p.logSideOffset;
    case LogStyle::CameraLogToLin:
        if (x <= p.logSideBreak)
            return (x - p.logSideBreak) / p.linearSlope + p.linSideBreak;
        Q_FALLTHROUGH();
    case LogStyle::LogToLin:
        return (std::pow(p.base, (x - p.logSideOffset) / p.logSideSlope) - p.linSideOffset) / p.linSideSlope;
    }
    return x;
}

// The monitor curve: a power with an offset, continued by a straight line
// through zero below the point where the two meet with the same slope.
double moncurve(double x, double g, double o, bool reverse)
{
    if (g == 1.0) // the break moves to infinity: a straight line throughout
        return reverse ? x * (1.0 + o) : x / (1.0 + o);
    if (o == 0.0) {
        if (x < 0.0)
            return 0.0;
        return std::pow(x, reverse ? 1.0 / g : g);
    }
    const double breakOut = std::pow(o * g / ((g - 1.0) * (1.0 + o)), g);
    const double slope = breakOut * (g - 1.0) / o;
    if (!reverse)
        return x >= o / (g - 1.0) ? std::pow((x + o) / (1.0 + o), g) : x * slope;
    return x >= breakOut ? (1.0 + o) * std::pow(x, 1.0 / g) - o : x / slope;
}

double applyExponent(const ClfNode &node, int c, double x)
{
    const double g = node.exponent[c];
    const double o = node.exponentOffset[c];
    switch (node.exponentStyle) {
    case ExponentStyle::Basic:
        return std::pow(std::max(x, 0.0), node.reverse ? 1.0 / g : g);
    case ExponentStyle::BasicMirror:
        return std::copysign(std::pow(std::fabs(x), node.reverse ? 1.0 / g : g), x);
    case ExponentStyle::BasicPassThru:
        return x < 0.0 ? x : std::pow(x, node.reverse ? 1.0 / g : g);
    case ExponentStyle::Moncurve:
        return moncurve(x, g, o, node.reverse);
    case ExponentStyle::MoncurveMirror:
        return std::copysign(moncurve(std::fabs(x), g, o, node.reverse), x);
    }
    return x;
}

void applyNode(const ClfNode &node, double rgb[3])
{
    switch (node.kind) {
    case NodeKind::Lut1D:
        if (node.halfDomain) {
            for (int c = 0; c < 3; ++c)
                rgb[c] = lookUpHalfDomain(node.table->table1D, c, rgb[c]);
        } else {
            LutCalc::evaluate(node.table.get(), rgb);
        }
        return;
    case NodeKind::Lut3D:
        if (node.trilinear) {
            const int n = node.table->size3D;
            const double position[3] = {rgb[0] * (n - 1), rgb[1] * (n - 1), rgb[2] * (n - 1)};
            LutCalc::sampleTrilinear(node.table->table3D, position, rgb);
        } else {
            LutCalc::evaluate(node.table.get(), rgb);
        }
        return;
    case NodeKind::Range:
        for (int c = 0; c < 3; ++c) {
            double v = rgb[c];
            if (node.hasMin && node.hasMax) {
                v = (v - node.minIn) * (node.maxOut - node.minOut) / (node.maxIn - node.minIn) + node.minOut;
                if (node.clamp)
                    v = std::min(std::max(v, node.minOut), node.maxOut);
            } else if (node.hasMin) {
                v = std::max(v, node.minOut);
            } else {
                v = std::min(v, node.maxOut);
            }
            rgb[c] = v;
        }
        return;
    case NodeKind::Matrix: {
        double out[3];
        for (int r = 0; r < 3; ++r)
            out[r] = node.matrix[r][0] * rgb[0] + node.matrix[r][1] * rgb[1] + node.matrix[r][2] * rgb[2]
                     + node.matrix[r][3];
        std::copy(out, out + 3, rgb);
        return;
    }
    case NodeKind::Cdl:
        applyCdl(node, rgb);
        return;
    case NodeKind::Log:
        for (int c = 0; c < 3; ++c)
            rgb[c] = applyLog(node.logStyle, node.log[c], rgb[c]);
        return;
    case NodeKind::Exponent:
        for (int c = 0; c < 3; ++c)
            rgb[c] = applyExponent(node, c, rgb[c]);
        return;
    }
}

// --- Parsing ----------------------------------------------------------------

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

// Reads a ProcessList into its nodes. The XML is fed to the reader a block at
// a time so that one endless token cannot take the memory (see
// kMaxTokenBytes); a document type declaration is refused outright, which
// keeps entity expansion out.
class ProcessListParser
{
public:
    explicit ProcessListParser(QFile *file) : m_file(file) {}

    bool parse();
    std::vector<ClfNode> nodes;
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

    bool parseNode(NodeKind kind);
    bool parseBitDepth(const QXmlStreamAttributes &attributes, const char *name, double *scale);
    bool parseLut(ClfNode &node);
    bool parseLutArray(ClfNode &node, bool rawHalfs);
    bool parseIndexMap(ClfNode &node);
    bool parseRange(ClfNode &node);
    bool parseMatrix(ClfNode &node);
    bool parseCdl(ClfNode &node);
    bool parseLog(ClfNode &node);
    bool parseExponent(ClfNode &node, bool gammaNames);

    QFile *m_file;
    QXmlStreamReader m_xml;
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
    const Entry *entry = style.isNull() && fallback ? fallback : lookUp(table, style);
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

bool ProcessListParser::parse()
{
    // The root element, then its children: metadata, which is skipped, and
    // the process nodes.
    for (QXmlStreamReader::TokenType token = next(); token != QXmlStreamReader::StartElement; token = next()) {
        if (token == QXmlStreamReader::Invalid)
            return false;
        if (token == QXmlStreamReader::EndDocument)
            return fail(QStringLiteral("no ProcessList element"));
    }
    if (m_xml.name() != QLatin1String("ProcessList"))
        return fail(QStringLiteral("the root element is <%1>, not <ProcessList>").arg(elementName()));
    const qint64 rootLine = m_xml.lineNumber();

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
    } kMetadata[] = {{"Description"}, {"InputDescriptor"}, {"OutputDescriptor"}, {"Info"}};
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
    const auto *depth = lookUp(kDepths, value);
    if (!depth)
        return fail(QStringLiteral("%1=\"%2\" is not a bit depth").arg(QLatin1String(name)).arg(value));
    *scale = depth->scale;
    return true;
}

bool ProcessListParser::parseNode(NodeKind kind)
{
    const QXmlStreamAttributes attributes = m_xml.attributes();
    ClfNode node;
    node.kind = kind;
    node.line = m_xml.lineNumber();
    if (!parseBitDepth(attributes, "inBitDepth", &node.inScale)
        || !parseBitDepth(attributes, "outBitDepth", &node.outScale))
        return false;
    // Each node takes its input at the depth the node before gives its output.
    const QString inDepth = attributes.value(QLatin1String("inBitDepth")).toString();
    if (!m_lastOutDepth.isEmpty() && inDepth != m_lastOutDepth)
        return fail(QStringLiteral("inBitDepth=\"%1\" differs from the outBitDepth=\"%2\" before it")
                        .arg(inDepth, m_lastOutDepth));
    m_lastOutDepth = attributes.value(QLatin1String("outBitDepth")).toString();
    bool ok = false;
    switch (kind) {
    case NodeKind::Lut1D:
    case NodeKind::Lut3D:
        ok = parseLut(node);
        break;
    case NodeKind::Range:
        ok = parseRange(node);
        break;
    case NodeKind::Matrix:
        ok = parseMatrix(node);
        break;
    case NodeKind::Cdl:
        ok = parseCdl(node);
        break;
    case NodeKind::Log:
        ok = parseLog(node);
        break;
    case NodeKind::Exponent:
        ok = parseExponent(node, m_xml.name() == QLatin1String("Gamma"));
        break;
    }
    if (ok)
        nodes.push_back(std::move(node));
    return ok;
}

bool ProcessListParser::parseLut(ClfNode &node)
{
    const QXmlStreamAttributes attributes = m_xml.attributes();
    const bool is3D = node.kind == NodeKind::Lut3D;
    const QStringRef interpolation = attributes.value(QLatin1String("interpolation"));
    node.trilinear = is3D && interpolation == QLatin1String("trilinear");
    if (!interpolation.isEmpty() && !node.trilinear
        && interpolation != QLatin1String(is3D ? "tetrahedral" : "linear"))
        return fail(QStringLiteral("interpolation=\"%1\" is not evaluated").arg(interpolation));
    node.halfDomain = !is3D && attributes.value(QLatin1String("halfDomain")) == QLatin1String("true");
    const bool rawHalfs = attributes.value(QLatin1String("rawHalfs")) == QLatin1String("true");
    const QStringRef hue = attributes.value(QLatin1String("hueAdjust"));
    if (!hue.isEmpty() && hue != QLatin1String("none"))
        return fail(QStringLiteral("hueAdjust=\"%1\" is not evaluated").arg(hue));

    LutCurve indexMap;
    const bool read = readChildren([&] {
        if (m_xml.name() == QLatin1String("Array")) {
            if (node.table)
                return fail(QStringLiteral("a second <Array>"));
            return parseLutArray(node, rawHalfs);
        }
        if (is3D || m_xml.name() != QLatin1String("IndexMap"))
            return skipElement();
        if (node.table || node.hasIndexMap || node.halfDomain)
            return fail(QStringLiteral("an <IndexMap> comes once, before the <Array> of a LUT1D over 0..1"));
        node.hasIndexMap = true;
        return parseIndexMap(node);
    });
    if (!read)
        return false;
    if (!node.table)
        return failAt(node.line, QStringLiteral("no <Array>"));
    if (node.hasIndexMap) {
        // The map takes input values to table indices: as table positions
        // 0..1, the shaper curves of the table's container.
        for (double &index : node.indexMap.y)
            index /= double(node.table->size1D - 1);
        const QString problem = node.indexMap.problem();
        if (!problem.isEmpty())
            return failAt(node.line, QStringLiteral("IndexMap: %1").arg(problem));
        for (LutCurve &shaper : node.table->meaning.shaper)
            shaper = node.indexMap;
    }
    return true;
}

bool ProcessListParser::parseLutArray(ClfNode &node, bool rawHalfs)
{
    const bool is3D = node.kind == NodeKind::Lut3D;
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
    if (node.halfDomain && size != 65536)
        return fail(QStringLiteral("a half-domain LUT1D needs 65536 entries, not %1").arg(size));
    const qint64 expected = (is3D ? qint64(size) * size * size : qint64(size)) * components;
    // Every value takes at least a character and a blank: a dim the file
    // cannot hold is refused before the table is allocated.
    if (2 * expected - 1 > m_file->size())
        return fail(QStringLiteral("Array dim=\"%1\" asks for %2 values, more than the file holds")
                        .arg(dim)
                        .arg(expected));

    node.table = std::make_shared<Read_LUTFile>();
    Read_LUTFile &lut = *node.table;
    if (!(is3D ? lut.setSize3D(size, false) : lut.setSize1D(size, false)))
        return fail(lut.errorString);
    float *data = is3D ? lut.table3D.data() : lut.table1D.data();
    // Raw halfs are the bit patterns of real outputs, whatever the output depth.
    const double outScale = rawHalfs ? 1.0 : node.outScale;
    qint64 count = 0;
    const bool read = readText([&](const char *token, int length, qint64 tokenLine) {
        double v = 0.0;
        const QLatin1String text(token, length);
        // Only the entries of a half-domain table that stand for infinities
        // and NaNs may be other than finite.
        if (!tokenToNumber(token, length, &v) || (!std::isfinite(v) && !node.halfDomain))
            return failAt(tokenLine, QStringLiteral("Array value \"%1\" is not a finite number").arg(text));
        if (count == expected)
            return failAt(tokenLine, QStringLiteral("the Array holds more than the %1 values of dim=\"%2\"")
                                         .arg(expected)
                                         .arg(dim));
        if (rawHalfs) {
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

bool ProcessListParser::parseIndexMap(ClfNode &node)
{
    // Pairs "input@index", input values in input units.
    LutCurve &curve = node.indexMap;
    return readText([&](const char *token, int length, qint64 line) {
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
}

bool ProcessListParser::parseRange(ClfNode &node)
{
    static const struct
    {
        const char *text;
        bool clamp;
    } kStyles[] = {{"Clamp", true}, {"noClamp", false}};
    const auto *style = parseStyle(kStyles, &kStyles[0]);
    if (!style)
        return false;
    node.clamp = style->clamp;
    struct
    {
        const char *text;
        double *value;
        double scale;
    } limits[] = {{"minInValue", &node.minIn, node.inScale}, {"maxInValue", &node.maxIn, node.inScale},
                  {"minOutValue", &node.minOut, node.outScale}, {"maxOutValue", &node.maxOut, node.outScale}};
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
    node.hasMin = present[0];
    node.hasMax = present[1];
    if (present[0] != present[2] || present[1] != present[3])
        return failAt(node.line, QStringLiteral("a Range needs its in and out values in pairs"));
    if (!node.hasMin && !node.hasMax)
        return failAt(node.line, QStringLiteral("a Range needs minimum or maximum values"));
    if (node.hasMin && node.hasMax) {
        if (!(node.maxIn > node.minIn))
            return failAt(node.line, QStringLiteral("a Range needs maxInValue above minInValue"));
    } else if (!node.clamp) {
        return failAt(node.line, QStringLiteral("a noClamp Range needs all four values"));
    } else if ((node.hasMin && node.minIn != node.minOut) || (node.hasMax && node.maxIn != node.maxOut)) {
        // With one pair only, the Range is a clamp and maps values onto themselves.
        return failAt(node.line, QStringLiteral("a Range with one pair of values needs the same value in and out"));
    }
    return true;
}

bool ProcessListParser::parseMatrix(ClfNode &node)
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
                node.matrix[r][c] = values[r * columns + c] * node.inScale / node.outScale;
            node.matrix[r][3] = columns == 4 ? values[r * columns + 3] / node.outScale : 0.0;
        }
        return true;
    });
    return read && (haveArray || failAt(node.line, QStringLiteral("a Matrix without an <Array>")));
}

bool ProcessListParser::parseCdl(ClfNode &node)
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
    node.cdlStyle = style->style;
    // A SOPNode holds Slope, Offset and Power, three numbers each, and a
    // SatNode one Saturation; either node may be missing.
    const struct
    {
        const char *text;
        double *values;
        int count;
    } kParts[] = {{"Slope", node.slope, 3}, {"Offset", node.offset, 3}, {"Power", node.power, 3},
                  {"Saturation", &node.saturation, 1}};
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
    const bool reverse = node.cdlStyle == CdlStyle::Rev || node.cdlStyle == CdlStyle::RevNoClamp;
    for (int c = 0; c < 3; ++c) {
        if (!(node.power[c] > 0.0) || (reverse && node.slope[c] == 0.0))
            return failAt(node.line,
                          QStringLiteral("an ASC_CDL needs powers above 0 (and slopes other than 0 to reverse)"));
    }
    if (reverse && node.saturation == 0.0)
        return failAt(node.line, QStringLiteral("an ASC_CDL with saturation 0 cannot be reversed"));
    return true;
}

bool ProcessListParser::parseLog(ClfNode &node)
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
    node.logStyle = style->style;
    const bool camera = node.logStyle == LogStyle::CameraLinToLog || node.logStyle == LogStyle::CameraLogToLin;
    const bool read = readChildren([&] {
        if (m_xml.name() != QLatin1String("LogParams"))
            return skipElement();
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
                node.log[c] = p;
        }
        return skipElement();
    });
    if (read && camera && std::isnan(node.log[0].linSideBreak + node.log[1].linSideBreak + node.log[2].linSideBreak))
        return failAt(node.line, QStringLiteral("the camera Log styles need LogParams for every channel"));
    return read;
}

bool ProcessListParser::parseExponent(ClfNode &node, bool gammaNames)
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
    node.exponentStyle = style->style;
    node.reverse = style->reverse;
    const bool moncurve =
        node.exponentStyle == ExponentStyle::Moncurve || node.exponentStyle == ExponentStyle::MoncurveMirror;
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
                node.exponent[c] = g;
                node.exponentOffset[c] = o;
                set[c] = true;
            }
        }
        return skipElement();
    });
    if (read && !(set[0] && set[1] && set[2]))
        return failAt(node.line, QStringLiteral("%1 needed for every channel").arg(paramsName));
    return read;
}

// --- Reading into the container --------------------------------------------

// The input span a Range gives the table behind it: the inputs that it maps
// onto 0 and 1. Only a Range that maps linearly and upwards, and whose clamp
// (if any) leaves 0..1 alone, is such a span; the table clamps its input to
// 0..1 anyway.
bool rangeSpan(const ClfNode &range, double *lo, double *hi)
{
    if (!range.hasMin || !range.hasMax)
        return false;
    const double scale = (range.maxOut - range.minOut) / (range.maxIn - range.minIn);
    if (!(scale > 0.0) || (range.clamp && (range.minOut > 0.0 || range.maxOut < 1.0)))
        return false;
    *lo = range.minIn - range.minOut / scale;
    *hi = range.minIn + (1.0 - range.minOut) / scale;
    return std::isfinite(*lo) && std::isfinite(*hi) && *hi > *lo;
}

// Puts the list into lut's tables when it has one of the shapes they hold
// (Range? LUT1D? LUT3D?, with at least one table); false, changing nothing,
// when it has not.
bool readIntoTables(Read_LUTFile *lut, const std::vector<ClfNode> &nodes, bool headerOnly)
{
    const ClfNode *range = nullptr;
    const ClfNode *lut1D = nullptr;
    const ClfNode *lut3D = nullptr;
    size_t i = 0;
    if (i < nodes.size() && nodes[i].kind == NodeKind::Range)
        range = &nodes[i++];
    if (i < nodes.size() && nodes[i].kind == NodeKind::Lut1D)
        lut1D = &nodes[i++];
    if (i < nodes.size() && nodes[i].kind == NodeKind::Lut3D)
        lut3D = &nodes[i++];
    if (i != nodes.size() || (!lut1D && !lut3D) || (lut1D && lut1D->halfDomain) || (lut3D && lut3D->trilinear))
        return false;
    double lo = 0.0, hi = 1.0;
    // The container applies its shaper curves before the 1D table's span.
    if (range && (!rangeSpan(*range, &lo, &hi) || (lut1D && lut1D->hasIndexMap)))
        return false;

    const float zero[3] = {0.0f, 0.0f, 0.0f};
    const float one[3] = {1.0f, 1.0f, 1.0f};
    if (lut1D) {
        const Read_LUTFile &source = *lut1D->table;
        if (!lut->setSize1D(source.size1D, headerOnly))
            return false;
        for (int e = 0; !headerOnly && e < source.size1D; ++e)
            lut->storeEntry1D(e, source.table1D[e][0], source.table1D[e][1], source.table1D[e][2], zero, one);
        for (int c = 0; c < 3; ++c) {
            lut->meaning.shaper[c] = source.meaning.shaper[c];
            lut->meaning.inputMin1D[c] = lo;
            lut->meaning.inputMax1D[c] = hi;
        }
        if (lut1D->hasIndexMap)
            lut->meaning.shaperName = QStringLiteral("LUT1D IndexMap");
    }
    if (lut3D) {
        const Read_LUTFile &source = *lut3D->table;
        const int n = source.size3D;
        if (!lut->setSize3D(n, headerOnly))
            return false;
        for (int a = 0; !headerOnly && a < n; ++a) {
            for (int b = 0; b < n; ++b) {
                for (int c = 0; c < n; ++c) {
                    const float *v = source.table3D[a][b][c];
                    lut->storeEntry3D(a, b, c, v[0], v[1], v[2], zero, one);
                }
            }
        }
        if (!lut1D) {
            std::fill(lut->meaning.inputMin3D, lut->meaning.inputMin3D + 3, lo);
            std::fill(lut->meaning.inputMax3D, lut->meaning.inputMax3D + 3, hi);
        }
        lut->meaning.table1DFeeds3D = lut1D != nullptr;
    }
    return true;
}

bool readProcessList(Read_LUTFile *lut, const QString &fileName, bool headerOnly, LutFormatId formatId)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return lut->fail(QStringLiteral("cannot open: %1").arg(file.errorString()));
    lut->applyDefaultOrder(formatId);
    ProcessListParser parser(&file);
    if (!parser.parse())
        return lut->fail(parser.error);
    if (readIntoTables(lut, parser.nodes, headerOnly))
        return true;
    if (!lut->errorString.isEmpty())
        return false;

    // Any other list is evaluated node by node. The lattice the bake path
    // suggests: the largest LUT3D (or 33 points) when the list mixes the
    // channels, else the longest LUT1D (or 4096 entries).
    int size3D = 0, size1D = 0;
    bool mixes = false;
    for (const ClfNode &node : parser.nodes) {
        mixes = mixes || node.mixesChannels();
        if (node.kind == NodeKind::Lut3D)
            size3D = std::max(size3D, node.tableSize());
        else if (node.kind == NodeKind::Lut1D && !node.halfDomain)
            size1D = std::max(size1D, node.tableSize());
    }
    lut->meaning.evaluateSize3D = mixes ? (size3D > 0 ? size3D : 33) : 0;
    lut->meaning.evaluateSize1D = mixes ? 0 : (size1D > 0 ? size1D : 4096);
    const auto list = std::make_shared<const std::vector<ClfNode>>(std::move(parser.nodes));
    lut->meaning.evaluate = [list](double rgb[3]) {
        for (const ClfNode &node : *list)
            applyNode(node, rgb);
    };
    return true;
}

// --- Writing ----------------------------------------------------------------

bool writeProcessList(Write_LUTFile *writer, const QString &fileName, const Read_LUTFile *lut, LutFormatId formatId)
{
    if (writer->outputScale >= 2)
        return writer->fail(QStringLiteral("the %1 format holds reals: an output scale of %2 does not apply")
                                .arg(formatId == LutFormatId::Clf ? QStringLiteral("clf") : QStringLiteral("ctf"))
                                .arg(writer->outputScale));
    const bool is3D = lut->size3D >= 1 && lut->table3D.size() == lut->size3D;
    const bool is1D = !is3D && lut->size1D >= 1 && lut->table1D.size() == lut->size1D;
    if (!is3D && !is1D)
        return writer->fail(QStringLiteral("the LUT holds no table to write"));

    // A stable id: the digest of the table.
    QCryptographicHash digest(QCryptographicHash::Md5);
    const float *data = is3D ? lut->table3D.data() : lut->table1D.data();
    const qint64 values = is3D ? qint64(lut->size3D) * lut->size3D * lut->size3D * 3 : qint64(lut->size1D) * 3;
    digest.addData(reinterpret_cast<const char *>(data), int(values * qint64(sizeof(float))));
    const QString source = QFileInfo(writer->sourcePath).fileName();
    const QString description = source.isEmpty() ? QStringLiteral("Written by chromaduct")
                                                 : QStringLiteral("Converted from %1").arg(source.toHtmlEscaped());

    auto write = [&](LutTextStream &stream) {
        stream << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               << "<ProcessList id=\"" << digest.result().toHex() << "\" "
               << (formatId == LutFormatId::Clf ? "compCLFversion=\"3\"" : "version=\"1.3\"") << ">\n"
               << "    <Description>" << description << "</Description>\n";
        stream.setRealNumberNotation(QTextStream::SmartNotation);
        stream.setRealNumberPrecision(9);
        const QString separator = QStringLiteral(" ");
        if (is3D) {
            const int n = lut->size3D;
            stream << "    <LUT3D inBitDepth=\"32f\" outBitDepth=\"32f\" interpolation=\"tetrahedral\">\n"
                   << "        <Array dim=\"" << n << ' ' << n << ' ' << n << " 3\">\n";
            // Blue varies fastest.
            for (int r = 0; r < n; ++r) {
                for (int g = 0; g < n; ++g) {
                    for (int b = 0; b < n; ++b) {
                        writer->writeLut3DEntryPrecise(lut->table3D, stream, r, g, b, separator);
                        stream << '\n';
                    }
                }
            }
            stream << "        </Array>\n    </LUT3D>\n";
        } else {
            stream << "    <LUT1D inBitDepth=\"32f\" outBitDepth=\"32f\">\n"
                   << "        <Array dim=\"" << lut->size1D << " 3\">\n";
            for (int e = 0; e < lut->size1D; ++e) {
                writer->writeLut1DEntry(lut->table1D, stream, e, 1, separator);
                stream << '\n';
            }
            stream << "        </Array>\n    </LUT1D>\n";
        }
        stream << "</ProcessList>\n";
    };
    return is3D ? writer->writeTable3DFile(fileName, lut, formatId, write)
                : writer->writeTable1DFile(fileName, lut, formatId, write);
}

} // namespace

bool Read_LUTFile::readClf(QString fileName, bool headerOnly)
{
    return readProcessList(this, fileName, headerOnly, LutFormatId::Clf);
}

bool Read_LUTFile::readCtf(QString fileName, bool headerOnly)
{
    return readProcessList(this, fileName, headerOnly, LutFormatId::Ctf);
}

bool Write_LUTFile::writeClf(QString fileName, Read_LUTFile *lut)
{
    return writeProcessList(this, fileName, lut, LutFormatId::Clf);
}

bool Write_LUTFile::writeCtf(QString fileName, Read_LUTFile *lut)
{
    return writeProcessList(this, fileName, lut, LutFormatId::Ctf);
}
