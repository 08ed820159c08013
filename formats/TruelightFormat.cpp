// The Truelight cube format (identifier 10, ".cub"), read only. Its structure
// lives in "#" lines whose second field is a keyword: the dimensions, the
// cube width, the input LUT length, and the two sections "InputLUT" (a 1D
// table, values on a scale of 0 to the cube size) and "Cube" (a 3D table,
// red varying fastest). "End" closes the file.

#include "lut/LutLog.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"

#include <QDebug>
#include <QRegularExpression>

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
            qCDebug(lcLutRead) << "unkown" << line;
            continue;
        }
        // The keyword is the second field, so "#" must stand alone before it.
        const QStringList fields = line.split(whiteSpace, Qt::SkipEmptyParts);
        if (fields.size() < 2)
            continue;
        const QString &keyword = fields.at(1);

        if (keyword == QLatin1String("iDims") || keyword == QLatin1String("oDims")) {
            if (fields.size() >= 3 && fields.at(2) != QLatin1String("3")) {
                qCDebug(lcLutRead) << "unsupported dimensions:" << line;
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
                qCDebug(lcLutRead) << "unusable width line:" << line;
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
                qCDebug(lcLutRead) << "unusable lutLength line:" << line;
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
