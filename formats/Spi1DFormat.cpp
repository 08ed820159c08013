// The spi1d format (identifier 12, ".spi1d"): a keyword header ("Version",
// "From", "Length", "Components", in any order) and a block in braces with
// one sample of 1, 2 or 3 components per line. Columns are red, green, blue.
//
// "From lo hi" is the input range the samples are spread over, as other
// software that reads spi1d files takes it; the sample values are outputs
// and are kept as they are. The container's 1D table is sampled evenly over
// the input range 0..1, so a file with another range is resampled onto it by
// linear interpolation (inputs beyond the file's range take its end values).
// A read for baking keeps the samples as they are, with the range recorded
// as their input span.

#include "calc/LutCalc.h"
#include "lut/LutLog.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QDebug>

#include <cmath>
#include <vector>

namespace {


QString afterKeyword(QString line, const QString &keyword)
{
    line.remove(keyword);
    return line;
}

} // namespace

bool Read_LUTFile::readSpi1D(QString fileName, bool headerOnly)
{
    Q_UNUSED(headerOnly);
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));

    applyDefaultOrder(LutFormatId::Spi1D);

    double lo = 0.0, hi = 1.0;
    int length = 0;
    int components = 0;
    bool block = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1String("Version"))) {
            lutReadDebug() << "#:" << line;
        } else if (line.startsWith(QLatin1String("From"))) {
            if (LutScan::scan(afterKeyword(line, QStringLiteral("From")), "%lf %lf", &lo, &hi) < 2)
                return fail(QStringLiteral("line %1: From needs two numbers").arg(in.lineNumber()));
            if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi))
                return fail(QStringLiteral("line %1: the From range must rise").arg(in.lineNumber()));
        } else if (line.startsWith(QLatin1String("Length"))) {
            if (LutScan::scan(afterKeyword(line, QStringLiteral("Length")), "%d", &length) < 1)
                return fail(QStringLiteral("line %1: Length needs a number").arg(in.lineNumber()));
            if (length < 1 || length > kMax1DSize)
                return fail(QStringLiteral("line %1: Length %2 is outside 1..%3")
                                .arg(in.lineNumber())
                                .arg(length)
                                .arg(kMax1DSize));
        } else if (line.startsWith(QLatin1String("Components"))) {
            if (LutScan::scan(afterKeyword(line, QStringLiteral("Components")), "%d", &components) < 1)
                return fail(QStringLiteral("line %1: Components needs a number").arg(in.lineNumber()));
            if (components < 1 || components > 3)
                return fail(QStringLiteral("line %1: %2 components; 1, 2 or 3 are read")
                                .arg(in.lineNumber())
                                .arg(components));
        } else if (line.startsWith(QLatin1Char('{'))) {
            block = true;
            break;
        }
    }
    if (length < 1)
        return fail(QStringLiteral("no Length line"));
    if (components < 1)
        return fail(QStringLiteral("no Components line"));
    if (!block)
        return fail(QStringLiteral("no { before the samples"));

    // The samples in file order, three channels each; a one-component file
    // gives all three the same value, a two-component one leaves the third 0.
    std::vector<float> samples;
    samples.reserve(size_t(length) * 3);
    // The block ends at "}"; a line in it that is not numbers, or a sample
    // past the Length, is refused by its number.
    int i = 0;
    for (;;) {
        if (in.atEnd()) {
            if (i < length)
                return fail(QStringLiteral("the file ends after %1 of %2 samples").arg(i).arg(length));
            break;
        }
        const QByteArray line = in.readRawLine().trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith('}')) {
            if (i < length)
                return fail(QStringLiteral("line %1: the block ends after %2 of %3 samples").arg(in.lineNumber()).arg(i).arg(length));
            break;
        }
        double v[3] = {0.0, 0.0, 0.0};
        const int converted = LutScan::scan(line, "%lf %lf %lf", &v[0], &v[1], &v[2]);
        if (converted < 1)
            return fail(QStringLiteral("line %1: a sample line holds numbers only").arg(in.lineNumber()));
        if (i == length)
            return fail(QStringLiteral("line %1: more samples than the Length of %2").arg(in.lineNumber()).arg(length));
        if (converted < components)
            return fail(QStringLiteral("line %1: %2 of %3 components").arg(in.lineNumber()).arg(converted).arg(components));
        if (components == 1)
            v[1] = v[2] = v[0];
        else if (components == 2)
            v[2] = 0.0;
        for (double x : v)
            samples.push_back(float(x));
        ++i;
    }
    in.close();

    if (!setSize1D(length, false))
        return false;
    // A read for baking keeps the samples and records the range as the
    // table's input span instead of resampling.
    const bool unitRange = (lo == 0.0 && hi == 1.0) || bakeRead;
    if (bakeRead) {
        for (int c = 0; c < 3; ++c) {
            meaning.inputMin1D[c] = lo;
            meaning.inputMax1D[c] = hi;
        }
    }
    for (int e = 0; e < length; ++e) {
        float y[3];
        for (int c = 0; c < 3; ++c) {
            y[c] = unitRange ? samples[3 * size_t(e) + size_t(c)]
                             : float(LutCalc::sample1D(samples.data(), length, c,
                                                       ((length == 1 ? 0.0 : double(e) / (length - 1)) - lo) / (hi - lo)));
        }
        // Stored unclamped, in the channel order the flags give (reversed
        // exactly when they differ, as for every 1D store).
        float *entry = table1D[e];
        const bool reverse = dataOrderRGB != tableOrderRGB;
        entry[0] = reverse ? y[2] : y[0];
        entry[1] = y[1];
        entry[2] = reverse ? y[0] : y[2];
    }
    domainMin1D[0] = domainMin1D[1] = domainMin1D[2] = 0.0f;
    resetDomainMax1D();
    return true;
}

bool Write_LUTFile::writeSpi1D(QString fileName, Read_LUTFile *lut)
{
    // The values are outputs over the input range 0..1, as reals: "From" is
    // an input range to every reader of the format, so it cannot carry a
    // code scale (the dispatch refuses one).
    // A table that holds what its file means (a bake) keeps its input span.
    const LutMeaning &m = lut->meaning;
    const bool span = lut->bakeRead && !m.inputSpan1DIsUnit();
    if (span && !(m.inputMin1D[0] == m.inputMin1D[1] && m.inputMin1D[1] == m.inputMin1D[2] && m.inputMax1D[0] == m.inputMax1D[1]
                   && m.inputMax1D[1] == m.inputMax1D[2]))
        return fail(QStringLiteral("the spi1d format holds one From range for all three channels"));
    const QString from = span ? QString::number(m.inputMin1D[0], 'g', 9) + QLatin1Char(' ') + QString::number(m.inputMax1D[0], 'g', 9)
                              : QStringLiteral("0.0 1");
    return writeTable1DFile(fileName, lut, LutFormatId::Spi1D, [&](LutTextStream &stream) {
        stream << "Version 1" << '\n'
               << "From " << from << '\n'
               << "Length " << lut->size1D << '\n'
               << "Components 3" << '\n'
               << "{" << '\n';
        const QString indent = QStringLiteral("        ");
        const QString separator = QStringLiteral(" ");
        for (int i = 0; i < lut->size1D; ++i) {
            stream << indent;
            writeLut1DEntry(lut->table1D, stream, i, 1, separator);
            stream << '\n';
        }
        stream << "}" << '\n';
    });
}

bool Read_LUTFile::recognisesSpi1D(const QByteArray &head)
{
    const QByteArray line = LutHead::firstContentLine(head);
    // A Houdini lut begins with "Version" too.
    return (line.startsWith("Version") && !recognisesHoudini(head)) || line.startsWith("Components") || line.startsWith('{');
}
