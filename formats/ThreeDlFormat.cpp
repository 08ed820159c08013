// The 3dl format (identifier 3, ".3dl"): an optional "Mesh" line giving the
// input and output bit depths, a shaper line of input code values whose
// field count is the cube size, and one line of three output values per
// lattice point, blue varying fastest.
//
// The reader makes two passes. The first finds the cube size and the range
// of the output values: from the mesh line, or else from the largest value
// in the file, rounded up to the next 2^k - 1 (3, 7, ... 1023, 4095, 65535).
// The second pass, from the start of the file again, stores the values
// divided by that range.
//
// Two writers, one per layout. Lustre's (the 3dl row): "3DMESH", "Mesh i o"
// (a cube of 2^i + 1 points, rounded down for other sizes, and o-bit
// output codes), the shaper line, the entries, and the closing "LUT8" and
// "gamma 1.0" lines Lustre expects. Flame's (the flame row, identifier 20):
// the shaper line and the entries alone, so readers take the output depth
// from the largest code. Both write 10-bit input codes on the shaper line,
// an identity, and integer output codes of 10, 12 or 16 bits.

#include "lut/LutLog.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QDebug>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>

namespace {


// Output depths above this many bits are not code values of any real file.
constexpr int kMaxOutputBits = 31;

enum class LineKind { Blank, Comment, Header, Mesh, Gamma, Shaper, Data, Other };



// The kind of a trimmed line. Without countFields a line that is no
// keyword line is Other: its fields are not counted.
LineKind classify(const QByteArray &line, int *fields, bool countFields = true)
{
    *fields = 0;
    if (line.isEmpty())
        return LineKind::Blank;
    // The first character rules out the keywords on data lines at once.
    const char first = line.at(0);
    if (first == '#')
        return LineKind::Comment;
    if (first == '3' && line == "3DMESH")
        return LineKind::Header;
    if (first == 'M' && line.startsWith("Mesh"))
        return LineKind::Mesh;
    if (first == 'g' && line.startsWith("gamma"))
        return LineKind::Gamma;
    if (!countFields)
        return LineKind::Other;
    *fields = LutScan::fieldCount(line);
    if (*fields == 3)
        return LineKind::Data;
    if (*fields == 2 || *fields >= 4)
        return LineKind::Shaper;
    return LineKind::Other;
}

// Narrows a scanned value to single precision, saturating instead of
// overflowing (the store clamps it to the range anyway).
float toFloat(double v)
{
    if (v > double(FLT_MAX))
        return FLT_MAX;
    if (v < -double(FLT_MAX))
        return -FLT_MAX;
    return float(v);
}

// The smallest 2^k - 1 (k = 2..16) that holds the largest value m; 65535
// for anything larger.
float outputRangeFor(double m)
{
    const double t = std::floor(m);
    for (int k = 2; k <= 16; ++k) {
        const double range = std::ldexp(1.0, k) - 1.0;
        if (range >= t)
            return float(range);
    }
    return 65535.0f;
}

} // namespace

bool Read_LUTFile::read3dl(QString fileName, bool headerOnly)
{
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));

    applyDefaultOrder(LutFormatId::ThreeDl);

    // The last data line scanned: fields that do not scan keep these values.
    double v[3] = {0.0, 0.0, 0.0};
    double largest = 0.0;
    // A mesh line was read and no line of numbers since: the next one may
    // be its shaper line.
    bool afterMesh = false;

    // First pass: cube size, output range and the largest value.
    QByteArray line;
    while (in.readTrimmedLine(line)) {
        int fields = 0;
        // Once the size and the output range are known, lines of numbers
        // change nothing here: only keyword lines need telling apart.
        const bool settled = size3D >= 1 && !(domainMax3D[0] < 1.1f) && !afterMesh;
        switch (classify(line, &fields, !settled)) {
        case LineKind::Comment:
            lutReadDebug() << "#:" << line;
            break;
        case LineKind::Mesh: {
            // "Mesh i o": a cube of 2^i + 1 points, output values of o bits.
            QByteArray rest = line;
            rest.replace("Mesh ", "");
            int inBits = 0, outBits = 0;
            if (LutScan::scan(rest, "%d %d", &inBits, &outBits) < 1)
                return fail(QStringLiteral("line %1: Mesh without bit depths").arg(in.lineNumber()));
            if (outBits < 0 || outBits > kMaxOutputBits)
                return fail(QStringLiteral("line %1: Mesh output depth of %2 bits is out of range")
                                .arg(in.lineNumber())
                                .arg(outBits));
            const double points = std::ldexp(1.0, qBound(-64, inBits, 64)) + 1.0;
            const int n = points > double(INT_MAX) ? INT_MAX : int(points);
            // A later mesh line replaces the size (and the table) of an earlier one.
            if (!setSize3D(n, headerOnly))
                return fail(QStringLiteral("line %1: Mesh: %2").arg(in.lineNumber()).arg(errorString));
            const float range = float(std::ldexp(1.0, outBits) - 1.0);
            for (int c = 0; c < 3; ++c) {
                domainMin3D[c] = 0.0f;
                domainMax3D[c] = range;
            }
            afterMesh = true;
            break;
        }
        case LineKind::Gamma: {
            QByteArray rest = line;
            rest.replace("gamma ", "");
            double gamma = 0.0;
            if (LutScan::scan(rest, "%lf", &gamma) < 1)
                return fail(QStringLiteral("line %1: gamma without a number").arg(in.lineNumber()));
            break;
        }
        case LineKind::Shaper: {
            // Only the number of input code values matters: it is the cube
            // size. Right after a mesh line it is the size when it lies
            // between the mesh's 2^i + 1 and 2^(i + 1): writers round the
            // mesh's depth down for the sizes between (33 is "Mesh 5", and
            // so is 40).
            const bool meshRoundedDown = afterMesh && fields > size3D && fields <= 2 * (size3D - 1);
            afterMesh = false;
            if ((size3D == 0 || meshRoundedDown) && !setSize3D(fields, headerOnly))
                return fail(QStringLiteral("line %1: shaper line: %2").arg(in.lineNumber()).arg(errorString));
            break;
        }
        case LineKind::Data:
            afterMesh = false;
            // Without an output depth from a mesh line, the range follows
            // from the largest value.
            if (domainMax3D[0] < 1.1f && LutScan::scan(line, "%lf %lf %lf", &v[0], &v[1], &v[2]) >= 1) {
                for (const double x : v) {
                    if (x > largest)
                        largest = x;
                }
            }
            break;
        case LineKind::Blank:
        case LineKind::Header:
        case LineKind::Other:
            break;
        }
    }

    if (size3D < 1) {
        in.close();
        return fail(QStringLiteral("no cube size: neither a Mesh line nor a shaper line"));
    }

    if (largest > 0.1 && domainMax3D[0] < 1.1f) {
        const float range = outputRangeFor(largest);
        domainMax3D[0] = domainMax3D[1] = domainMax3D[2] = range;
    }
    // A mesh line of 0 output bits with no range in the data would leave an
    // empty range and divide every value by zero: store the values as read.
    for (int c = 0; c < 3; ++c) {
        if (!(domainMax3D[c] > domainMin3D[c]))
            domainMax3D[c] = domainMin3D[c] + 1.0f;
    }

    if (headerOnly) {
        resetDomainMax3D();
        in.close();
        return true;
    }

    if (!in.rewind())
        return fail(QStringLiteral("cannot read the file again: %1").arg(in.errorString()));

    // Second pass: the k-th data line is the entry (k / N^2, k / N % N, k % N).
    // Fields that do not scan keep the values of the line before, the last
    // line of the first pass for the first line.
    float w[3];
    for (int c = 0; c < 3; ++c)
        w[c] = toFloat(v[c]);
    const EntriesRead entries = readEntryValues3D(in, w, [](const QByteArray &line, float *out) {
        int fields = 0;
        double d[3];
        const int converted = classify(line, &fields) == LineKind::Data ? LutScan::scan(line, "%lf %lf %lf", &d[0], &d[1], &d[2]) : 0;
        for (int c = 0; c < converted; ++c)
            out[c] = toFloat(d[c]);
        return converted;
    });
    if (entries == EntriesRead::Truncated)
        return false;

    resetDomainMax3D();
    in.close();
    return true;
}

namespace {

// The output depths a 3dl file holds: 10, 12 and 16 bits.
bool isThreeDlScale(int scale)
{
    return scale == 1023 || scale == 4095 || scale == 65535;
}

// The number of bits of a scale of 2^k - 1.
int bitsOf(int scale)
{
    int bits = 0;
    while (bits < 31 && (1LL << bits) - 1 < scale)
        ++bits;
    return bits;
}

// The shaper line: n input codes of 10 bits spread evenly, the identity.
void writeShaperLine(LutTextStream &stream, int n)
{
    for (int i = 0; i < n; ++i) {
        if (i > 0)
            stream << ' ';
        stream << int(std::lround(1023.0 * i / (n - 1)));
    }
    stream << '\n';
}

// The checks both layouts share: codes of a depth the file can hold, and
// enough points for the shaper line to be told from an entry.
bool checkThreeDl(Write_LUTFile *writer, const Read_LUTFile *lut, const char *layout)
{
    if (!isThreeDlScale(writer->outputScale))
        return writer->fail(QStringLiteral("a %1 file holds integer codes of 10, 12 or 16 bits (scale 1023, 4095 or "
                                           "65535), not %2")
                                .arg(QLatin1String(layout))
                                .arg(writer->outputScale < 2 ? QStringLiteral("reals")
                                                             : QStringLiteral("codes of scale %1").arg(writer->outputScale)));
    if (lut->size3D < 1 || lut->table3D.size() != lut->size3D)
        return writer->fail(QStringLiteral("the LUT holds no 3D table to write"));
    if (lut->size3D < 4)
        return writer->fail(QStringLiteral("a %1 file holds 4 points per axis or more, not %2: its line of %2 input "
                                           "codes would read as an entry")
                                .arg(QLatin1String(layout))
                                .arg(lut->size3D));
    return true;
}

} // namespace

bool Write_LUTFile::write3dl(QString fileName, Read_LUTFile *lut)
{
    if (!checkThreeDl(this, lut, "3dl"))
        return false;
    const int n = lut->size3D;
    // The mesh depth i of a cube of 2^i + 1 points; rounded down for other
    // sizes, whose shaper line gives the size.
    int meshBits = 0;
    while ((2LL << meshBits) <= n - 1)
        ++meshBits;
    const int outBits = bitsOf(outputScale);
    auto header = [n, meshBits, outBits](LutTextStream &stream) {
        stream << "3DMESH\nMesh " << meshBits << ' ' << outBits << '\n';
        writeShaperLine(stream, n);
    };
    auto footer = [](LutTextStream &stream) { stream << "\nLUT8\ngamma 1.0\n"; };
    return writeCubeFile(fileName, lut, LutFormatId::ThreeDl, header, QStringLiteral(" "), outputScale,
                         LinePrefix(), footer);
}

bool Write_LUTFile::writeFlame(QString fileName, Read_LUTFile *lut)
{
    if (!checkThreeDl(this, lut, "flame"))
        return false;
    const int n = lut->size3D;
    // Without a mesh line the depth is the one the largest code suggests:
    // below half the scale readers take a smaller one (and read a brighter
    // table), so such a table goes to the layout that states its depth.
    long long largest = 0;
    const float *values = lut->table3D.data();
    for (qint64 i = 0, count = qint64(n) * n * n * 3; i < count; ++i)
        largest = std::max(largest, lutCode(double(values[i]), outputScale));
    if (largest < (outputScale + 1) / 2)
        return fail(QStringLiteral("its largest code, %1, is below half of %2: a flame file gives no output depth, "
                                   "and readers take the depth its largest code suggests; the 3dl format (Lustre's "
                                   "layout, --to 3dl) states it")
                        .arg(largest)
                        .arg(outputScale));
    return writeCubeFile(fileName, lut, LutFormatId::Flame, [n](LutTextStream &stream) { writeShaperLine(stream, n); },
                         QStringLiteral(" "), outputScale);
}

// A 3dl file begins with its "3DMESH" / "Mesh" header or with its shaper
// line of four or more integer input codes.
bool Read_LUTFile::recognises3dl(const QByteArray &head)
{
    const QByteArray line = LutHead::firstContentLine(head);
    if (line.startsWith("3DMESH") || line.startsWith("Mesh"))
        return true;
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() < 4)
        return false;
    for (const QByteArray &field : fields) {
        bool ok = false;
        field.toLongLong(&ok);
        if (!ok)
            return false;
    }
    return true;
}
