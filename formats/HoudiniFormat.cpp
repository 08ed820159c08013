// The Houdini lut format (".lut", shared with the Discreet 1D format): a
// keyword header ("Version", "Format", "Type", "From", "To", "Black",
// "White", "Length"), a "LUT:" line, then blocks of values in braces, each
// opened by a line "NAME {" and closed by "}".
//
// Type "C" (or "RGB") is a 1D table: blocks "R", "G" and "B" of Length
// values each, or one block every channel shares. Type "3D" is a cube of
// Length points per axis in one block, three values a line, red fastest.
// Type "3D+1D" has "Length CUBE PRE": a "Pre" block of PRE values, the curve
// every channel goes through before the cube, then the cube in a "3D" block.
// "From lo hi" is the input span of the first table; the values are reals.
// The other keywords are read past.

#include "lut/LutLog.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

enum class HoudiniType { None, Channels, Cube, CubeWithPre };

// One block of the body: its name and its numbers, line by line.
struct Block
{
    QByteArray name;
    std::vector<float> values;
    std::vector<int> perLine; // how many numbers each value line gave
    qint64 firstLine = 0;
};

// The first word of line and the text after it.
QByteArray keywordOf(const QByteArray &line, QByteArray *rest)
{
    int end = 0;
    while (end < line.size() && !LutTextLines::isBlank(line.at(end)))
        ++end;
    *rest = line.mid(end).trimmed();
    return line.left(end);
}

} // namespace

bool Read_LUTFile::readHoudini(QString fileName, bool headerOnly)
{
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));

    applyDefaultOrder(LutFormatId::Houdini);

    HoudiniType type = HoudiniType::None;
    int lengths[2] = {0, 0};
    int lengthCount = 0;
    double lo = 0.0, hi = 1.0;
    bool haveVersion = false, lutLine = false;
    while (!in.atEnd()) {
        const QByteArray line = in.readRawLine().trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        QByteArray rest;
        const QByteArray keyword = keywordOf(line, &rest);
        const qint64 n = in.lineNumber();
        if (keyword == "LUT:") {
            lutLine = true;
            break;
        }
        if (keyword == "Version") {
            haveVersion = true;
        } else if (keyword == "Type") {
            if (rest == "C" || rest == "RGB")
                type = HoudiniType::Channels;
            else if (rest == "3D")
                type = HoudiniType::Cube;
            else if (rest == "3D+1D")
                type = HoudiniType::CubeWithPre;
            else
                return fail(QStringLiteral("line %1: Type \"%2\": C, RGB, 3D or 3D+1D are read")
                                .arg(n)
                                .arg(QString::fromLatin1(rest.left(40))));
        } else if (keyword == "From") {
            if (LutScan::scan(rest, "%lf %lf", &lo, &hi) != 2)
                return fail(QStringLiteral("line %1: From needs two numbers").arg(n));
            if (!std::isfinite(lo) || !std::isfinite(hi) || !(hi > lo))
                return fail(QStringLiteral("line %1: the From range must rise").arg(n));
        } else if (keyword == "Length") {
            lengthCount = LutScan::scan(rest, "%d %d", &lengths[0], &lengths[1]);
            if (lengthCount < 1)
                return fail(QStringLiteral("line %1: Length needs a number").arg(n));
        } else if (keyword == "Format" || keyword == "To" || keyword == "Black" || keyword == "White") {
            lutReadDebug() << "#:" << line;
        } else {
            return fail(QStringLiteral("line %1: \"%2\" is no header keyword").arg(n).arg(QString::fromLatin1(keyword.left(40))));
        }
    }
    if (!haveVersion)
        return fail(QStringLiteral("no Version line"));
    if (type == HoudiniType::None)
        return fail(QStringLiteral("no Type line"));
    if (lengthCount < 1)
        return fail(QStringLiteral("no Length line"));
    if (!lutLine)
        return fail(QStringLiteral("no \"LUT:\" line before the tables"));
    if (type == HoudiniType::CubeWithPre && lengthCount < 2)
        return fail(QStringLiteral("a 3D+1D file gives two lengths, the cube's and the pre-LUT's"));

    const bool cube = type != HoudiniType::Channels;
    if (cube ? !setSize3D(lengths[0], headerOnly) : !setSize1D(lengths[0], headerOnly))
        return fail(QStringLiteral("Length: %1").arg(errorString));
    if (type == HoudiniType::CubeWithPre && !setSize1D(lengths[1], headerOnly))
        return fail(QStringLiteral("Length of the pre-LUT: %1").arg(errorString));
    if (headerOnly) {
        in.close();
        return true;
    }

    // The blocks, as many values as their tables hold at most.
    const qint64 cubeValues = cube ? 3 * qint64(size3D) * size3D * size3D : 0;
    const qint64 mostValues = std::max<qint64>(cubeValues, size1D);
    std::vector<Block> blocks;
    Block *open = nullptr;
    while (!in.atEnd()) {
        const QByteArray line = in.readRawLine().trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qint64 n = in.lineNumber();
        if (!open) {
            if (!line.endsWith('{'))
                return fail(QStringLiteral("line %1: a block opens with \"NAME {\"").arg(n));
            if (blocks.size() == 3)
                return fail(QStringLiteral("line %1: more than three blocks").arg(n));
            blocks.push_back(Block{line.left(line.size() - 1).trimmed(), {}, {}, n});
            open = &blocks.back();
            continue;
        }
        if (line == "}") {
            open = nullptr;
            continue;
        }
        float v[3];
        int count = 0;
        const int converted = LutScan::scan(line, "%f %f %f", &v[0], &v[1], &v[2]);
        for (const char *p = line.constData(), *end = p + line.size(); p < end;) {
            while (p < end && LutTextLines::isBlank(*p))
                ++p;
            if (p == end)
                break;
            ++count;
            while (p < end && !LutTextLines::isBlank(*p))
                ++p;
        }
        if (converted < 1 || converted != count)
            return fail(QStringLiteral("line %1: a value line holds numbers only, at most three").arg(n));
        if (qint64(open->values.size()) + converted > mostValues)
            return fail(QStringLiteral("line %1: more values than the Length gives").arg(n));
        open->values.insert(open->values.end(), v, v + converted);
        open->perLine.push_back(converted);
    }
    in.close();
    if (open)
        return fail(QStringLiteral("the block of line %1 has no closing \"}\"").arg(open->firstLine));

    const float zero[3] = {0.0f, 0.0f, 0.0f}, one[3] = {1.0f, 1.0f, 1.0f};
    const auto singleColumn = [&](const Block &block, qint64 length) -> bool {
        if (qint64(block.values.size()) != length || block.values.size() != block.perLine.size())
            return fail(QStringLiteral("line %1: the block \"%2\" holds %3 values in one column, not %4")
                            .arg(block.firstLine)
                            .arg(QString::fromLatin1(block.name.left(40)))
                            .arg(block.values.size())
                            .arg(length));
        return true;
    };
    size_t next = 0;
    if (type == HoudiniType::Channels || type == HoudiniType::CubeWithPre) {
        // One curve per channel, or one for all of them.
        const size_t curves = type == HoudiniType::Channels && blocks.size() == 3 ? 3 : 1;
        if (blocks.size() < curves + (cube ? 1 : 0))
            return fail(QStringLiteral("the file ends before its tables"));
        for (size_t c = 0; c < curves; ++c) {
            if (!singleColumn(blocks[c], size1D))
                return false;
        }
        LineOrder1D order(this);
        for (int i = 0; i < size1D; ++i) {
            const float r = blocks[0].values[size_t(i)];
            storeEntry1D(i, r, blocks[curves == 3 ? 1 : 0].values[size_t(i)], blocks[curves == 3 ? 2 : 0].values[size_t(i)],
                         zero, one);
        }
        next = curves;
        for (int c = 0; c < 3; ++c) {
            meaning.inputMin1D[c] = lo;
            meaning.inputMax1D[c] = hi;
        }
    }
    if (cube) {
        if (blocks.size() <= next)
            return fail(QStringLiteral("the file ends before its cube"));
        const Block &block = blocks[next++];
        if (qint64(block.values.size()) != cubeValues || qint64(block.perLine.size()) * 3 != cubeValues)
            return fail(QStringLiteral("line %1: the cube holds %2 values, not %3 lines of three")
                            .arg(block.firstLine)
                            .arg(block.values.size())
                            .arg(cubeValues / 3));
        const int n = size3D;
        for (qint64 e = 0; e < cubeValues / 3; ++e) {
            const float *v = &block.values[size_t(3 * e)];
            storeEntry3D(int(e / (qint64(n) * n)), int(e / n % n), int(e % n), v[0], v[1], v[2], zero, one);
        }
        meaning.table1DFeeds3D = type == HoudiniType::CubeWithPre;
        if (type == HoudiniType::Cube) {
            for (int c = 0; c < 3; ++c) {
                meaning.inputMin3D[c] = lo;
                meaning.inputMax3D[c] = hi;
            }
        }
    }
    if (next != blocks.size())
        return fail(QStringLiteral("line %1: a block the Type has no use for").arg(blocks[next].firstLine));
    return true;
}

bool Write_LUTFile::writeHoudini(QString fileName, Read_LUTFile *lut)
{
    const bool cube = lut->size3D >= 1;
    const LutMeaning &m = lut->meaning;
    // A table that holds what its file means (a bake) keeps its input span
    // and a 1D table that feeds its cube. Readers take the From of a 3D file
    // as 0..1, so a cube's span goes into a 3D+1D file, whose pre-LUT maps
    // the From range onto the cube's 0..1: the 1D table in front, or a
    // straight line of two entries.
    const bool table1D = cube && lut->bakeRead && m.table1DFeeds3D && lut->size1D >= 1
        && lut->table1D.size() == lut->size1D;
    const bool withPre = cube && (table1D || (lut->bakeRead && !m.inputSpan3DIsUnit()));
    const bool spanOf1D = !cube || table1D;
    double lo[3] = {0.0, 0.0, 0.0}, hi[3] = {1.0, 1.0, 1.0};
    if (lut->bakeRead && (spanOf1D || withPre)) {
        std::copy(spanOf1D ? m.inputMin1D : m.inputMin3D, (spanOf1D ? m.inputMin1D : m.inputMin3D) + 3, lo);
        std::copy(spanOf1D ? m.inputMax1D : m.inputMax3D, (spanOf1D ? m.inputMax1D : m.inputMax3D) + 3, hi);
    }
    if (!(lo[0] == lo[1] && lo[1] == lo[2] && hi[0] == hi[1] && hi[1] == hi[2]))
        return fail(QStringLiteral("the houdini format holds one From range for all three channels"));
    if (table1D && !m.inputSpan3DIsUnit())
        return fail(QStringLiteral("the cube of a houdini 3D+1D file takes the inputs 0..1"));
    if (table1D) {
        for (int i = 0; i < lut->size1D; ++i) {
            if (lut->table1D[i][0] != lut->table1D[i][1] || lut->table1D[i][1] != lut->table1D[i][2])
                return fail(QStringLiteral("the pre-LUT of a houdini 3D+1D file is one curve for all three channels"));
        }
    }
    const auto header = [&](LutTextStream &stream, int version, const char *type, const QString &length) {
        // Nine significant digits keep the span the table was baked over.
        const bool unit = lo[0] == 0.0 && hi[0] == 1.0;
        stream << "Version\t\t" << version << '\n'
               << "Format\t\tany\n"
               << "Type\t\t" << type << '\n'
               << "From\t\t"
               << (unit ? QStringLiteral("0.000000 1.000000")
                        : QString::number(lo[0], 'g', 9) + QLatin1Char(' ') + QString::number(hi[0], 'g', 9))
               << '\n'
               << "To\t\t0.000000 1.000000\n"
               << "Black\t\t0.000000\n"
               << "White\t\t1.000000\n"
               << "Length\t\t" << length << '\n'
               << "LUT:\n";
        // The values: six decimals.
        stream.setRealNumberNotation(QTextStream::FixedNotation);
        stream.setRealNumberPrecision(6);
    };
    if (cube) {
        const int n = lut->size3D;
        const int preLength = table1D ? lut->size1D : 2;
        return writeTable3DFile(fileName, lut, LutFormatId::Houdini, [&](LutTextStream &stream) {
            if (withPre) {
                header(stream, 3, "3D+1D", QStringLiteral("%1 %2").arg(n).arg(preLength));
                stream << "Pre {\n";
                for (int i = 0; i < preLength; ++i) {
                    stream << '\t';
                    if (table1D)
                        writeLut1DValue(lut->table1D, stream, i, 1, QString());
                    else
                        stream << double(i);
                    stream << '\n';
                }
                stream << "}\n";
            } else {
                header(stream, 2, "3D", QString::number(n));
            }
            stream << "3D {\n";
            const QString separator = QStringLiteral(" ");
            for (int i = 0; i < n; ++i) {
                for (int j = 0; j < n; ++j) {
                    for (int k = 0; k < n; ++k) {
                        stream << '\t';
                        writeLut3DEntry(lut->table3D, stream, i, j, k, 1, separator);
                        stream << '\n';
                    }
                }
            }
            stream << "}\n";
        });
    }
    return writeTable1DFile(fileName, lut, LutFormatId::Houdini, [&](LutTextStream &stream) {
        header(stream, 1, "C", QString::number(lut->size1D));
        // The blocks name their channels: under the format's own order they
        // are the table's channels as they are.
        // One "RGB" block when the channels share a curve (the only 1D
        // layout other software reads), else one block per channel.
        bool grey = true;
        for (int i = 0; i < lut->size1D && grey; ++i)
            grey = lut->table1D[i][0] == lut->table1D[i][1] && lut->table1D[i][1] == lut->table1D[i][2];
        static const char *const names[] = {"R", "G", "B"};
        for (int c = 0; c < (grey ? 1 : 3); ++c) {
            stream << (grey ? "RGB" : names[c]) << " {\n";
            for (int i = 0; i < lut->size1D; ++i) {
                stream << '\t';
                writeLut1DValue(lut->table1D, stream, i, 1, QString(), defaultOrder || !reversed1D() ? c : 2 - c);
                stream << '\n';
            }
            stream << "}\n";
        }
    });
}

bool Read_LUTFile::recognisesHoudini(const QByteArray &head)
{
    // "Version" first, then "Format" or "Type" among the header's lines.
    const QList<QByteArray> lines = LutHead::lines(head);
    int k = 0;
    while (k < lines.size() && lines[k].startsWith('#'))
        ++k;
    if (k == lines.size() || !LutHead::startsWithWord(lines[k], "Version"))
        return false;
    for (int i = k + 1; i < lines.size() && i < k + 9; ++i) {
        if (LutHead::startsWithWord(lines[i], "Format") || LutHead::startsWithWord(lines[i], "Type"))
            return true;
    }
    return false;
}
