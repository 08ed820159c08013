// The Common LUT Format (identifier 17, ".clf") and the Color Transform
// Format that extends it (identifier 18, ".ctf"): an XML ProcessList whose
// process nodes (LUT1D, LUT3D, Range, Matrix, ASC_CDL, Log, Exponent, and in
// the transform format also the inverse tables, ExposureContrast,
// FixedFunction, the grading nodes and References to other lists, or to
// their inverses) are
// applied to a colour one after the other.
//
// This file is the glue between the list and the LUT container. ClfParser
// reads the XML into nodes whose values are normalised from the units of
// their bit depths, so the list runs on normalised values from end to end,
// as a colour pipeline applies it; ClfNodes evaluates them.
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
// floats they came from; a baked table's input span goes into a Range in
// front, and a 1D table that feeds the cube into a LUT1D before the LUT3D.

#include "formats/clf/ClfNodes.h"
#include "formats/clf/ClfParser.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

using namespace LutClf;

namespace {


// --- Reading into the container --------------------------------------------

// The input span a Range gives the table behind it: the inputs that it maps
// onto 0 and 1. Only a Range that maps linearly and upwards, and whose clamp
// (if any) leaves 0..1 alone, is such a span; the table clamps its input to
// 0..1 anyway.
bool rangeSpan(const Range &range, double *lo, double *hi)
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
bool readIntoTables(Read_LUTFile *lut, const std::vector<Node> &nodes, bool headerOnly)
{
    const Range *range = nullptr;
    const Lut1D *lut1D = nullptr;
    const Lut3D *lut3D = nullptr;
    size_t i = 0;
    if (i < nodes.size() && (range = std::get_if<Range>(&nodes[i].op)))
        ++i;
    if (i < nodes.size() && (lut1D = std::get_if<Lut1D>(&nodes[i].op)))
        ++i;
    if (i < nodes.size() && (lut3D = std::get_if<Lut3D>(&nodes[i].op)))
        ++i;
    if (i != nodes.size() || (!lut1D && !lut3D) || (lut1D && (lut1D->halfDomain || lut1D->hueAdjust))
        || (lut3D && lut3D->trilinear))
        return false;
    const bool indexed = lut1D && !lut1D->indexMap.isEmpty();
    double lo = 0.0, hi = 1.0;
    // The container applies its shaper curves before the 1D table's span.
    if (range && (!rangeSpan(*range, &lo, &hi) || indexed))
        return false;

    const float zero[3] = {0.0f, 0.0f, 0.0f};
    const float one[3] = {1.0f, 1.0f, 1.0f};
    if (lut1D) {
        const LutTable1D &source = lut1D->table;
        if (!lut->setSize1D(source.size(), headerOnly))
            return false;
        for (int e = 0; !headerOnly && e < source.size(); ++e)
            lut->storeEntry1D(e, source[e][0], source[e][1], source[e][2], zero, one);
        for (int c = 0; c < 3; ++c) {
            lut->meaning.shaper[c] = lut1D->indexMap;
            lut->meaning.inputMin1D[c] = lo;
            lut->meaning.inputMax1D[c] = hi;
        }
        if (indexed)
            lut->meaning.shaperName = QStringLiteral("LUT1D IndexMap");
    }
    if (lut3D) {
        const LutTable3D &source = lut3D->table;
        const int n = source.size();
        if (!lut->setSize3D(n, headerOnly))
            return false;
        for (int a = 0; !headerOnly && a < n; ++a) {
            for (int b = 0; b < n; ++b) {
                for (int c = 0; c < n; ++c) {
                    const float *v = source[a][b][c];
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
    std::vector<Node> nodes;
    QString error;
    if (!parseProcessList(file, formatId == LutFormatId::Clf, nodes, error))
        return lut->fail(error);
    if (readIntoTables(lut, nodes, headerOnly))
        return true;
    if (!lut->errorString.isEmpty())
        return false;

    // Any other list is evaluated node by node. The lattice the bake path
    // suggests: the largest LUT3D (or 33 points) when the list mixes the
    // channels, else the longest LUT1D (or 4096 entries).
    int size3D = 0, size1D = 0;
    bool mixes = false;
    for (const Node &node : nodes) {
        mixes = mixes || node.mixesChannels();
        if (const Lut3D *lut3D = std::get_if<Lut3D>(&node.op))
            size3D = std::max(size3D, lut3D->table.size());
        else if (const Lut1D *lut1D = std::get_if<Lut1D>(&node.op); lut1D && !lut1D->halfDomain)
            size1D = std::max(size1D, lut1D->table.size());
    }
    lut->meaning.evaluateSize3D = mixes ? (size3D > 0 ? size3D : 33) : 0;
    lut->meaning.evaluateSize1D = mixes ? 0 : (size1D > 0 ? size1D : 4096);
    lut->meaning.evaluateCost = qint64(nodes.size()); // the bake's bound counts nodes x colours
    // A single Matrix is a matrix transform (its bit depths scale its
    // coefficients, which keeps it one).
    if (nodes.size() == 1) {
        if (const LutMatrix *matrix = std::get_if<LutMatrix>(&nodes[0].op)) {
            lut->meaning.setMatrix(*matrix);
            return true;
        }
    }
    const auto list = std::make_shared<const std::vector<Node>>(std::move(nodes));
    lut->meaning.evaluate = [list](double rgb[3]) {
        for (const Node &node : *list)
            node.apply(rgb);
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

    // A table that holds what its file means (a bake) keeps its input span
    // as a Range in front of it, which maps the span onto 0..1, and a 1D
    // table that feeds the cube as a LUT1D in front of the LUT3D. The
    // reader takes such a list back into the same tables.
    const LutMeaning &m = lut->meaning;
    const bool table1D = is3D && lut->bakeRead && m.table1DFeeds3D && lut->size1D >= 1
        && lut->table1D.size() == lut->size1D;
    const bool spanOf1D = table1D || !is3D;
    const double *lo = spanOf1D ? m.inputMin1D : m.inputMin3D;
    const double *hi = spanOf1D ? m.inputMax1D : m.inputMax3D;
    const bool range = lut->bakeRead && (spanOf1D ? !m.inputSpan1DIsUnit() : !m.inputSpan3DIsUnit());
    if (range && !(lo[0] == lo[1] && lo[1] == lo[2] && hi[0] == hi[1] && hi[1] == hi[2]))
        return writer->fail(QStringLiteral("a Range holds one input range for all three channels"));
    if (table1D && !m.inputSpan3DIsUnit())
        return writer->fail(QStringLiteral("a LUT3D behind a LUT1D takes the inputs 0..1"));

    auto write = [&](LutTextStream &stream) {
        stream << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               << "<ProcessList id=\"" << digest.result().toHex() << "\" "
               << (formatId == LutFormatId::Clf ? "compCLFversion=\"3\"" : "version=\"1.3\"") << ">\n"
               << "    <Description>" << description << "</Description>\n";
        stream.setRealNumberNotation(QTextStream::SmartNotation);
        stream.setRealNumberPrecision(9);
        const QString separator = QStringLiteral(" ");
        if (range) {
            stream << "    <Range inBitDepth=\"32f\" outBitDepth=\"32f\">\n"
                   << "        <minInValue>" << lo[0] << "</minInValue>\n"
                   << "        <maxInValue>" << hi[0] << "</maxInValue>\n"
                   << "        <minOutValue>0</minOutValue>\n"
                   << "        <maxOutValue>1</maxOutValue>\n"
                   << "    </Range>\n";
        }
        const auto writeLut1D = [&]() {
            stream << "    <LUT1D inBitDepth=\"32f\" outBitDepth=\"32f\">\n"
                   << "        <Array dim=\"" << lut->size1D << " 3\">\n";
            for (int e = 0; e < lut->size1D; ++e) {
                writer->writeLut1DEntry(lut->table1D, stream, e, 1, separator);
                stream << '\n';
            }
            stream << "        </Array>\n    </LUT1D>\n";
        };
        if (table1D)
            writeLut1D();
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
            writeLut1D();
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

// A process list: the Common LUT Format's root has a compCLFversion, the
// transform format's a version.
bool Read_LUTFile::recognisesClf(const QByteArray &head)
{
    const int root = head.indexOf("<ProcessList");
    return root >= 0 && head.indexOf("compCLFversion", root) > root
        && head.indexOf("compCLFversion", root) < qMax(head.indexOf('>', root), root);
}

bool Read_LUTFile::recognisesCtf(const QByteArray &head)
{
    return head.contains("<ProcessList") && !recognisesClf(head);
}
