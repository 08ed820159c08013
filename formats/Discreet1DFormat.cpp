// The Discreet 1D lut format (identifier 6, ".lut"): a "LUT:" header with the
// channel count (3) and the sample count N, then one value per line, all N
// samples of channel 0, then channel 1, then channel 2. The file carries no
// scale: the reader takes it from the largest value, so 10-bit codes (largest
// 1023) and floats (largest 1.0) both come out as fractions of full scale.

#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QDebug>
#include <QRegularExpression>

#include <vector>

namespace {

constexpr int kDiscreet1DFormat = 6;

} // namespace

bool Read_LUTFile::readDiscreet1D(QString fileName, bool headerOnly)
{
    Q_UNUSED(headerOnly);
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));

    applyDefaultOrder(kDiscreet1DFormat);

    static const QRegularExpression whiteSpace(QStringLiteral("\\s+"));
    std::vector<float> scratch; // channel-major: N values of channel 0, then 1, then 2
    bool haveHeader = false;
    int n = 0;
    size_t values = 0;
    double largest = 0.0;

    while (!in.atEnd()) {
        QString line = in.readLine().trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1Char('#'))) {
            qDebug() << "#:" << line;
            continue;
        }
        if (line.startsWith(QLatin1String("LUT:"))) {
            // Only one table per file: a second header would start over
            // with values already taken, so it is refused.
            if (haveHeader)
                return fail(QStringLiteral("line %1: a second LUT: header").arg(in.lineNumber()));
            line.remove(QStringLiteral("LUT:"));
            int channels = 0;
            const int converted = LutScan::scan(line, "%d %d", &channels, &n);
            if (converted < 1)
                return fail(QStringLiteral("line %1: LUT: header without a channel count").arg(in.lineNumber()));
            if (channels != 3)
                return fail(QStringLiteral("line %1: %2 channels; only 3 are read").arg(in.lineNumber()).arg(channels));
            if (converted < 2)
                n = 0;
            if (!setSize1D(n, false))
                return fail(QStringLiteral("line %1: %2").arg(in.lineNumber()).arg(errorString));
            scratch.assign(size_t(n) * 3, 0.0f);
            haveHeader = true;
            continue;
        }

        // A value line; blanks inside it are dropped before the number is read.
        line.remove(whiteSpace);
        double v = 0.0;
        if (LutScan::scan(line, "%lf", &v) < 1)
            continue;
        if (!haveHeader)
            return fail(QStringLiteral("line %1: a value before the LUT: header").arg(in.lineNumber()));
        if (values >= scratch.size())
            return fail(QStringLiteral("line %1: more than the %2 values the header announces")
                            .arg(in.lineNumber())
                            .arg(qint64(scratch.size())));
        if (v > largest)
            largest = v;
        scratch[values++] = float(v);
    }
    in.close();

    if (!haveHeader)
        return fail(QStringLiteral("no LUT: header"));
    if (values < scratch.size())
        return fail(QStringLiteral("the file ends after %1 of %2 values").arg(qint64(values)).arg(qint64(scratch.size())));
    if (!(largest > 0.0))
        return fail(QStringLiteral("no value above 0 to take the scale from"));

    for (int c = 0; c < 3; ++c)
        domainMax1D[c] = float(largest);
    for (int i = 0; i < n; ++i)
        storeEntry1D(i, scratch[size_t(i)], scratch[size_t(n) + size_t(i)], scratch[2 * size_t(n) + size_t(i)],
                     domainMin1D, domainMax1D);
    resetDomainMax1D();
    return true;
}

bool Write_LUTFile::writeDiscreet1D(QString fileName, Read_LUTFile *lut)
{
    return writeTable1DFile(fileName, lut, kDiscreet1DFormat, [&](QTextStream &stream) {
        const int n = lut->size1D;
        stream << "# Discreet LUT file" << '\n'
               << "#      Channels: 3" << '\n'
               << "# Input Samples: " << n << '\n'
               << "#   Ouput Scale: " << outputScale << '\n'
               << "#\n#Exported from ostavel\n#\n" << '\n'
               << "LUT: 3 " << n << '\n';
        // Channel-major: every sample of the first channel, then the second, then the third.
        const bool forward = defaultOrder || dataOrderRGB;
        const QString indent = QStringLiteral("     ");
        for (int k = 0; k < 3; ++k) {
            for (int i = 0; i < n; ++i) {
                stream << indent;
                writeLut1DValue(lut->table1D, stream, i, outputScale, QString(), forward ? k : 2 - k);
                stream << '\n';
            }
        }
    });
}
