// The Truelight cube format (identifier 10, ".cub"). Its structure
// lives in "#" lines whose second field is a keyword: the dimensions, the
// cube width, the input LUT length, and the two sections "InputLUT" (a 1D
// table, values on a scale of 0 to the cube size) and "Cube" (a 3D table,
// red varying fastest). "End" closes the file.
//
// The writer's input LUT is what stands in front of the cube (the LUT's
// shaper, a cube file's 1D table, the cube's input span) over the inputs
// 0..1: at the shaper's own entries when they are those of an input LUT,
// else at 1024 evenly spaced inputs (the identity when there is nothing,
// as long as input LUTs commonly are).

#include "lut/LutLog.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QDebug>
#include <QRegularExpression>

#include <cmath>

namespace {


// Records the input LUT in the container's 1D table (values divided by
// scale) as the shaper of the cube: its entries spread evenly over 0..1,
// mapping onto lattice positions 0..1.
void recordInputLutShaper(Read_LUTFile *lut, float scale)
{
    const int n = lut->size1D;
    if (lut->size3D < 2 || n < 2 || lut->table1D.size() != n)
        return;
    const double toUnit = double(scale) / (lut->size3D - 1);
    lut->meaning.shaperName = QStringLiteral("Truelight input LUT");
    for (int c = 0; c < 3; ++c) {
        LutCurve &curve = lut->meaning.shaper[c];
        curve.x.resize(size_t(n));
        curve.y.resize(size_t(n));
        for (int i = 0; i < n; ++i) {
            curve.x[size_t(i)] = double(i) / (n - 1);
            curve.y[size_t(i)] = lut->table1D[i][c] * toUnit;
        }
    }
}

// The entries of an input LUT that samples a curve at other inputs.
constexpr int kInputLutLength = 1024;

// Whether curve is linear between knots spread evenly over 0..1: entries
// an input LUT holds as they are.
bool isInputLut(const LutCurve &curve)
{
    const size_t n = curve.x.size();
    if (curve.smooth || n < 2 || n > size_t(kMax1DSize))
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (!(std::fabs(curve.x[i] - double(i) / (n - 1)) <= 1e-9))
            return false;
    }
    return true;
}

} // namespace

bool Read_LUTFile::readTruelightCube(QString fileName, bool /*headerOnly: always read whole*/)
{
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));
    applyDefaultOrder(LutFormatId::Truelight);

    static const QRegularExpression whiteSpace(QStringLiteral("\\s+"));

    // Entry lines are those that scan to at least one number; blank lines,
    // "#" lines and text are passed over. Channels a short line does not
    // give keep the previous values, across both sections.
    float v[3] = {0.0f, 0.0f, 0.0f};
    bool stop = false;
    bool haveInputLut = false, haveCube = false; // the sections read
    while (!stop && !in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty())
            continue;
        if (!line.startsWith(QLatin1Char('#'))) {
            lutReadDebug() << "unkown" << line;
            continue;
        }
        // The keyword is the second field, so "#" must stand alone before it.
        const QStringList fields = line.split(whiteSpace, Qt::SkipEmptyParts);
        if (fields.size() < 2)
            continue;
        const QString &keyword = fields.at(1);

        if (keyword == QLatin1String("iDims") || keyword == QLatin1String("oDims")) {
            if (fields.size() >= 3 && fields.at(2) != QLatin1String("3")) {
                lutReadDebug() << "unsupported dimensions:" << line;
                stop = true;
            }
        } else if (keyword == QLatin1String("width")) {
            if (fields.size() != 5)
                continue;
            QString rest = line;
            rest.remove(QLatin1Char('#'));
            rest.remove(QStringLiteral("width"));
            int w[3] = {0, 0, 0};
            if (LutScan::scan(rest, "%d %d %d", &w[0], &w[1], &w[2]) == 0 || w[0] != w[1] || w[1] != w[2]) {
                lutReadDebug() << "unusable width line:" << line;
                stop = true;
                continue;
            }
            if (w[0] < 1) {
                // No cube; a lutLength may still give a 1D table.
                table3D.reset();
                size3D = 0;
            } else if (!setSize3D(w[0], false)) {
                return fail(QStringLiteral("line %1: width: %2").arg(in.lineNumber()).arg(errorString));
            }
        } else if (keyword == QLatin1String("lutLength")) {
            QString rest = line;
            rest.remove(QLatin1Char('#'));
            rest.remove(QStringLiteral("lutLength"));
            int length = 0;
            if (LutScan::scan(rest, "%d", &length) == 0) {
                lutReadDebug() << "unusable lutLength line:" << line;
                stop = true;
                continue;
            }
            if (length < 1) {
                table1D.reset();
                size1D = 0;
            } else if (!setSize1D(length, false)) {
                return fail(QStringLiteral("line %1: lutLength: %2").arg(in.lineNumber()).arg(errorString));
            }
        } else if (keyword == QLatin1String("InputLUT")) {
            if (size1D < 1 || size3D < 1)
                continue;
            // Input LUT values are lattice positions, 0 to the cube size - 1.
            // The plain reading divides them by the cube size into the 1D
            // table and does not apply them; a read for baking divides them
            // by the size - 1 and applies them as the shaper of the cube.
            const float scale = bakeRead && size3D >= 2 ? float(size3D - 1) : float(size3D);
            domainMax1D[0] = domainMax1D[1] = domainMax1D[2] = scale;
            const EntriesRead entries = readEntryValues1D(in, v, scanEntryValues);
            if (entries == EntriesRead::Truncated) {
                resetDomainMax3D();
                resetDomainMax1D();
                return false;
            }
            recordInputLutShaper(this, scale);
            haveInputLut = true;
            if (entries == EntriesRead::LastMissing)
                stop = true; // the file has ended

        } else if (keyword == QLatin1String("Cube")) {
            if (size3D < 1)
                continue;
            resetDomainMax3D();
            const EntriesRead entries = readEntryValues3D(in, v, scanEntryValues);
            // The input LUT is stored by now: its domain goes back to 1.0 too.
            if (entries != EntriesRead::Complete) {
                resetDomainMax3D();
                resetDomainMax1D();
                return entries == EntriesRead::LastMissing;
            }
            haveCube = true;
        } else if (keyword == QLatin1String("End")) {
            stop = true;
        }
    }

    resetDomainMax3D();
    resetDomainMax1D();
    in.close();
    // A table whose section never came would be all zero: a different LUT.
    if (size3D >= 1 && !haveCube)
        return fail(QStringLiteral("no \"Cube\" section for the cube of width %1").arg(size3D));
    if (size1D >= 1 && !haveInputLut)
        return fail(QStringLiteral("no \"InputLUT\" section after a cube width for the input LUT of length %1").arg(size1D));
    if (size3D >= 1 || size1D > 0)
        return true;
    return fail(QStringLiteral("no usable \"width\" or \"lutLength\" line"));
}

bool Write_LUTFile::writeTruelightCube(QString fileName, Read_LUTFile *lut)
{
    const int n = lut->size3D;
    if (n < 2)
        return fail(QStringLiteral("a Truelight cube holds 2 points per axis or more, not %1").arg(n));
    LutCurve curves[3];
    const QString problem = frontCurves(*lut, true, curves);
    if (!problem.isEmpty())
        return fail(problem);
    // The input LUT's entries are lattice positions, 0 to n - 1, at inputs
    // spread evenly over 0..1; all three channels share one length.
    // (A straight line of two knots is sampled too: input LUTs are longer.)
    bool ownEntries = curves[0].x.size() > 2;
    for (const LutCurve &curve : curves)
        ownEntries = ownEntries && isInputLut(curve) && curve.x.size() == curves[0].x.size();
    const int length = ownEntries ? int(curves[0].x.size()) : kInputLutLength;
    LutTable1D inputLut;
    if (!inputLut.allocate(length))
        return fail(QStringLiteral("out of memory for an input LUT of %1 entries").arg(length));
    for (int i = 0; i < length; ++i) {
        for (int c = 0; c < 3; ++c) {
            const double y = ownEntries ? curves[c].y[size_t(i)] : curves[c].evaluate(double(i) / (length - 1));
            inputLut[i][c] = float(y * (n - 1));
        }
    }
    auto header = [&](LutTextStream &stream) {
        stream << "# Truelight Cube v2.0\n# lutLength " << length << "\n# iDims 3\n# oDims 3\n# width " << n << ' ' << n
               << ' ' << n << "\n\n# InputLUT\n";
        stream.setRealNumberNotation(QTextStream::FixedNotation);
        const LineOrder1D lineOrder(this);
        for (int i = 0; i < length; ++i) {
            for (int k = 0; k < 3; ++k)
                writeLut1DValue(inputLut, stream, i, 1, k < 2 ? QStringLiteral(" ") : QString(),
                                reversed1D() ? 2 - k : k);
            stream << '\n';
        }
        stream << "\n# Cube\n";
    };
    return writeCubeFile(fileName, lut, LutFormatId::Truelight, header, QStringLiteral(" "), outputScale, LinePrefix(),
                         [](LutTextStream &stream) { stream << "# End\n"; });
}

// Truelight keeps its structure in "# keyword" lines.
bool Read_LUTFile::recognisesTruelight(const QByteArray &head)
{
    for (const QByteArray &line : LutHead::lines(head)) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 3 && fields[0] == "#"
            && (fields[1] == "iDims" || fields[1] == "oDims" || fields[1] == "lutLength"))
            return true;
    }
    return false;
}
