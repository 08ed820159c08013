// The csp format (identifier 9, ".csp"), read only. A csp file begins with
// the tag line "CSPLUTV100" and a type line ("3D" or "1D"), may carry a
// metadata block, then a pre-LUT (a shaper curve per channel) and then the table:
// a size line and one entry of three numbers per line, red varying fastest.
//
// The plain reading keeps of each channel's pre-LUT only the first and last
// output value, as that channel's domain, and does not apply the curves; the
// 3D domain stays as the pre-LUT gave it after the read. A read for baking
// records the curves and keeps the table's values, and reads tables whose
// axes differ in size ("2 3 4"), which the plain reading refuses.

#include "calc/LutCalc.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"

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

// The file's first line is its signature.
bool Read_LUTFile::recognisesCsp(const QByteArray &head)
{
    const QList<QByteArray> lines = LutHead::lines(head);
    return !lines.isEmpty() && lines.first() == "CSPLUTV100";
}
