// The csp format (identifier 9, ".csp"). A csp file begins with
// the tag line "CSPLUTV100" and a type line ("3D" or "1D"), may carry a
// metadata block (the writer's names the source), then a pre-LUT (a shaper
// curve per channel) and then the table:
// a size line and one entry of three numbers per line, red varying fastest.
//
// The plain reading keeps of each channel's pre-LUT only the first and last
// output value, as that channel's domain, and does not apply the curves; the
// 3D domain stays as the pre-LUT gave it after the read. A read for baking
// records the curves and keeps the table's values, and reads tables whose
// axes differ in size ("2 3 4"), which the plain reading refuses.
//
// The writer writes a 3D table when the LUT holds one, else its 1D table,
// behind a pre-LUT made of what stands in front of that table: the LUT's
// shaper, a cube file's 1D table in front of its cube, the table's input
// span (two knots, the identity, when there is none). The metadata names
// the file the table came from.

#include "calc/LutCalc.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

namespace {


QStringList fieldsOf(const QString &trimmedLine)
{
    static const QRegularExpression whiteSpace(QStringLiteral("\\s+"));
    return trimmedLine.split(whiteSpace, Qt::SkipEmptyParts);
}

// A pre-LUT line of a mebibyte at most is read whole: some 65,000 knots.
constexpr size_t kMaxPreLutKnots = 65536;
// A linear curve that bends gets this many knots at least, so that the
// smooth interpolation of csp pre-LUTs keeps to its lines.
constexpr size_t kLinearKnots = 1024;

// Whether every inner knot of curve lies on the chord of its neighbours.
bool isStraight(const LutCurve &curve)
{
    for (size_t i = 1; i + 1 < curve.x.size(); ++i) {
        const double t = (curve.x[i] - curve.x[i - 1]) / (curve.x[i + 1] - curve.x[i - 1]);
        const double chord = curve.y[i - 1] + (curve.y[i + 1] - curve.y[i - 1]) * t;
        if (!(std::fabs(curve.y[i] - chord) <= 1e-9 * std::max(1.0, std::fabs(chord))))
            return false;
    }
    return true;
}

// The knots a pre-LUT gets for curve. A smooth curve (a csp pre-LUT) keeps
// its own; a linear one (a Truelight input LUT, a 1D table) that bends
// gets evenly spaced knots between its own. A curve of more knots than a
// line holds is sampled evenly instead.
LutCurve preLutKnots(const LutCurve &curve)
{
    const size_t k = curve.x.size();
    LutCurve knots;
    knots.smooth = true;
    if (k > kMaxPreLutKnots) {
        for (size_t i = 0; i < kMaxPreLutKnots; ++i) {
            const double x = curve.x.front() + (curve.x.back() - curve.x.front()) * double(i) / (kMaxPreLutKnots - 1);
            knots.x.push_back(x);
            knots.y.push_back(curve.evaluate(x));
        }
        return knots;
    }
    if (curve.smooth || k >= kLinearKnots || isStraight(curve)) {
        knots.x = curve.x;
        knots.y = curve.y;
        return knots;
    }
    const size_t parts = (kLinearKnots + k - 2) / (k - 1);
    for (size_t i = 0; i + 1 < k; ++i) {
        for (size_t p = 0; p < parts; ++p) {
            const double t = double(p) / parts;
            knots.x.push_back(curve.x[i] + (curve.x[i + 1] - curve.x[i]) * t);
            knots.y.push_back(curve.y[i] + (curve.y[i + 1] - curve.y[i]) * t);
        }
    }
    knots.x.push_back(curve.x.back());
    knots.y.push_back(curve.y.back());
    return knots;
}

// The fewest decimals, six or more, that keep the inputs of knots apart.
int inputDecimals(const LutCurve &knots)
{
    int decimals = 6;
    for (; decimals < 12; ++decimals) {
        const double unit = std::pow(10.0, decimals);
        bool apart = true;
        for (size_t i = 1; apart && i < knots.x.size(); ++i)
            apart = std::round(knots.x[i] * unit) > std::round(knots.x[i - 1] * unit);
        if (apart)
            break;
    }
    return decimals;
}

// The pre-LUT: per channel the knot count, the inputs and the outputs.
void writePreLut(LutTextStream &stream, const LutCurve curves[3])
{
    stream.setRealNumberNotation(QTextStream::FixedNotation);
    for (int c = 0; c < 3; ++c) {
        const LutCurve knots = preLutKnots(curves[c]);
        stream.setRealNumberPrecision(inputDecimals(knots));
        stream << qint64(knots.x.size()) << '\n';
        for (const std::vector<double> *values : {&knots.x, &knots.y}) {
            for (size_t i = 0; i < values->size(); ++i)
                stream << (i > 0 ? " " : "") << (*values)[i];
            stream << '\n';
        }
    }
    stream.setRealNumberPrecision(6);
    stream << '\n';
}

// The lines from the tag to the pre-LUT: the metadata names the source
// (a name on one line: control characters become blanks).
void writeCspHead(LutTextStream &stream, bool is3D, const QString &sourcePath)
{
    QString source = QFileInfo(sourcePath).fileName();
    for (QChar &ch : source) {
        if (ch.category() == QChar::Other_Control || ch == QChar::LineSeparator || ch == QChar::ParagraphSeparator)
            ch = QLatin1Char(' ');
    }
    stream << "CSPLUTV100\n" << (is3D ? "3D" : "1D") << "\n\nBEGIN METADATA\n"
           << (source.isEmpty() ? QStringLiteral("Written by chromaduct") : QStringLiteral("Converted from %1").arg(source))
           << "\nEND METADATA\n\n";
}

} // namespace

bool Read_LUTFile::readCsp(QString fileName, bool /*headerOnly: csp is always read whole*/)
{
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));
    applyDefaultOrder(LutFormatId::Csp);

    // The first two lines are strict: no blank line may precede either.
    if (in.atEnd() || in.readLine().trimmed() != QLatin1String("CSPLUTV100"))
        return fail(QStringLiteral("line 1: the file does not begin with \"CSPLUTV100\""));
    const QString type = in.atEnd() ? QString() : in.readLine().trimmed();
    bool is3D;
    if (type == QLatin1String("3D"))
        is3D = true;
    else if (type == QLatin1String("1D"))
        is3D = false;
    else
        return fail(QStringLiteral("line 2: the type line must be \"3D\" or \"1D\""));

    // An optional metadata block, "BEGIN METADATA" to "END METADATA", is
    // skipped. Without one, the first line that is not blank begins the
    // pre-LUT.
    QString pending;
    while (!in.atEnd() && pending.isEmpty())
        pending = in.readLine().trimmed();
    if (pending == QLatin1String("BEGIN METADATA")) {
        bool metadataEnded = false;
        while (!in.atEnd() && !metadataEnded)
            metadataEnded = in.readLine().trimmed() == QLatin1String("END METADATA");
        if (!metadataEnded)
            return fail(QStringLiteral("the file ends inside the metadata block"));
        pending.clear();
    }

    // Pre-LUT: per channel a count line, an input-values line and an
    // output-values line. Each channel's curve is recorded as the file's
    // shaper. The plain reading does not apply it: the output line's first
    // and last value become the channel's domain instead. A read for baking
    // applies it and keeps the table's values as they are.
    float *domainMin = is3D ? domainMin3D : domainMin1D;
    float *domainMax = is3D ? domainMax3D : domainMax1D;
    meaning.shaperName = QStringLiteral("csp pre-LUT");
    // A line of one field where a count may stand is the count; the lines
    // after it are the values, whatever their length (a one-point curve is
    // then refused below instead of shifting the lines that follow).
    enum { Count, Inputs, Outputs } next = Count;
    QStringList inputs;
    int channel = 0;
    while (channel < 3 && (!pending.isEmpty() || !in.atEnd())) {
        const QStringList fields = fieldsOf(pending.isEmpty() ? in.readLine().trimmed() : std::exchange(pending, QString()));
        if (fields.isEmpty())
            continue;
        if (next == Count && fields.size() == 1) {
            next = Inputs;
            continue;
        }
        if (next != Outputs) {
            inputs = fields;
            next = Outputs;
            continue;
        }
        next = Count;
        LutCurve &curve = meaning.shaper[channel];
        curve.smooth = true;
        for (const QString &field : inputs)
            curve.x.push_back(field.toDouble());
        for (const QString &field : fields)
            curve.y.push_back(field.toDouble());
        if (bakeRead) {
            const QString problem = curve.problem();
            if (!problem.isEmpty())
                return fail(QStringLiteral("line %1: pre-LUT of channel %2: %3").arg(in.lineNumber()).arg(channel).arg(problem));
            ++channel;
            continue;
        }
        domainMin[channel] = fields.first().toFloat();
        domainMax[channel] = fields.last().toFloat();
        if (!(domainMax[channel] > domainMin[channel]) || !std::isfinite(domainMax[channel] - domainMin[channel])) {
            return fail(QStringLiteral("line %1: the pre-LUT output values of channel %2 do not rise")
                            .arg(in.lineNumber())
                            .arg(channel));
        }
        ++channel;
    }

    // Size: the first line of three fields (3D) or one field (1D).
    bool haveSize = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        const QStringList fields = fieldsOf(line);
        if (is3D && fields.size() == 3) {
            int n[3] = {0, 0, 0};
            const int converted = LutScan::scan(line, "%d %d %d", &n[0], &n[1], &n[2]);
            if (bakeRead && converted == 3 && (n[0] != n[1] || n[1] != n[2]))
                return readRectangularCsp(in, n);
            if (converted != 3 || n[0] != n[1] || n[1] != n[2]) {
                return fail(QStringLiteral("line %1: the cube size line must give one size three times (--bake reads other sizes)")
                                .arg(in.lineNumber()));
            }
            if (!setSize3D(n[0], false))
                return fail(QStringLiteral("line %1: %2").arg(in.lineNumber()).arg(errorString));
            haveSize = true;
            break;
        }
        if (!is3D && fields.size() == 1) {
            int n = 0;
            if (LutScan::scan(line, "%d", &n) != 1)
                return fail(QStringLiteral("line %1: the 1D size is not a number").arg(in.lineNumber()));
            if (!setSize1D(n, false))
                return fail(QStringLiteral("line %1: %2").arg(in.lineNumber()).arg(errorString));
            haveSize = true;
            break;
        }
    }
    if (!haveSize)
        return fail(QStringLiteral("no size line after the pre-LUT"));

    // Data: the next line that scans to at least one number is the next
    // entry; channels a short line does not give keep the previous values.
    float v[3] = {0.0f, 0.0f, 0.0f};
    EntriesRead entries = readEntryValues3D(in, v, scanEntryValues);
    if (entries != EntriesRead::Complete) {
        resetDomainMax3D();
        return entries == EntriesRead::LastMissing;
    }

    entries = readEntryValues1D(in, v, scanEntryValues);
    if (entries != EntriesRead::Complete) {
        resetDomainMax1D();
        return entries == EntriesRead::LastMissing;
    }

    // The 3D domain keeps what the pre-LUT gave it.
    resetDomainMax1D();
    in.close();
    return size3D >= 1 || size1D > 0;
}

// A 3D table with its own size per axis ("2 3 4", red fastest), read for
// baking: the whole transform (the pre-LUT, then tetrahedral interpolation
// on the grid) becomes the container's evaluation.
bool Read_LUTFile::readRectangularCsp(LutTextInput &in, const int sizes[3])
{
    qint64 total = 1;
    for (int c = 0; c < 3; ++c) {
        if (sizes[c] < 2 || sizes[c] > kMaxCubeSize)
            return fail(QStringLiteral("line %1: size %2 is outside 2..%3").arg(in.lineNumber()).arg(sizes[c]).arg(kMaxCubeSize));
        total *= sizes[c];
    }
    // Stored [red][green][blue], blue fastest, as the cube tables are.
    auto grid = std::make_shared<std::vector<float>>(size_t(total) * 3, 0.0f);
    float v[3] = {0.0f, 0.0f, 0.0f};
    for (qint64 e = 0; e < total;) {
        if (in.atEnd())
            return fail(QStringLiteral("the file ends after %1 of %2 cube entries").arg(e).arg(total));
        if (!scanEntryLine(in.readRawLine().trimmed(), v))
            continue;
        const qint64 r = e % sizes[0], g = e / sizes[0] % sizes[1], b = e / (qint64(sizes[0]) * sizes[1]);
        float *entry = grid->data() + 3 * ((r * sizes[1] + g) * sizes[2] + b);
        for (int c = 0; c < 3; ++c)
            entry[c] = v[dataOrderRGB ? c : 2 - c];
        ++e;
    }
    const LutCurve shaper[3] = {meaning.shaper[0], meaning.shaper[1], meaning.shaper[2]};
    const std::array<int, 3> n = {sizes[0], sizes[1], sizes[2]};
    meaning.evaluate = [shaper, grid, n](double rgb[3]) {
        double position[3];
        for (int c = 0; c < 3; ++c)
            position[c] = shaper[c].evaluate(rgb[c]) * (n[c] - 1);
        float result[3];
        LutCalc::sampleGrid(grid->data(), n.data(), position, result);
        for (int c = 0; c < 3; ++c)
            rgb[c] = result[c];
    };
    meaning.evaluateSize3D = std::max({sizes[0], sizes[1], sizes[2]});
    return true;
}

bool Write_LUTFile::writeCsp(QString fileName, Read_LUTFile *lut)
{
    const bool is3D = lut->size3D >= 1 && lut->table3D.size() == lut->size3D;
    const bool is1D = !is3D && lut->size1D >= 1 && lut->table1D.size() == lut->size1D;
    if (!is3D && !is1D)
        return fail(QStringLiteral("the LUT holds no table to write"));
    LutCurve curves[3];
    const QString problem = frontCurves(*lut, is3D, curves);
    if (!problem.isEmpty())
        return fail(problem);
    if (is3D) {
        const int n = lut->size3D;
        auto header = [&](LutTextStream &stream) {
            writeCspHead(stream, true, sourcePath);
            writePreLut(stream, curves);
            stream << n << ' ' << n << ' ' << n << '\n';
        };
        return writeCubeFile(fileName, lut, LutFormatId::Csp, header, QStringLiteral(" "), outputScale);
    }
    return writeTable1DFile(fileName, lut, LutFormatId::Csp, [&](LutTextStream &stream) {
        writeCspHead(stream, false, sourcePath);
        writePreLut(stream, curves);
        stream << lut->size1D << '\n';
        stream.setRealNumberNotation(QTextStream::FixedNotation);
        const LineOrder1D lineOrder(this);
        for (int i = 0; i < lut->size1D; ++i) {
            for (int k = 0; k < 3; ++k)
                writeLut1DValue(lut->table1D, stream, i, 1, k < 2 ? QStringLiteral(" ") : QString(), reversed1D() ? 2 - k : k);
            stream << '\n';
        }
    });
}

// The file's first line is its signature.
bool Read_LUTFile::recognisesCsp(const QByteArray &head)
{
    const QList<QByteArray> lines = LutHead::lines(head);
    return !lines.isEmpty() && lines.first() == "CSPLUTV100";
}
