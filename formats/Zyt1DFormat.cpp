// The zyt1d format (identifier 15, ".zyt1d"), this tool's own 1D text
// format: "From lo hi", "Length N", then N lines of three values. Lines the
// header does not know are ignored, so a spi1d file with a 0..1 range reads
// as well; the number of sample lines must equal the Length.

#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <cmath>

namespace {


} // namespace

namespace {

// The files of this tool's own formats, zyt1d and zyt3d (told apart here): "From lo hi" lines, then "Length N"
// and its lines: N of them for a 1D table, N cubed for a cube. Returns the
// dimension, 0 for another file.
int zytDimension(const QByteArray &head)
{
    const QList<QByteArray> lines = LutHead::lines(head);
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        if (line.startsWith("From"))
            continue;
        if (!line.startsWith("Length"))
            return 0;
        int n = -1;
        LutScan::scan(line.mid(6), "%d", &n);
        if (n < 0)
            return 0;
        return lines.size() - 1 - i > n ? 3 : 1;
    }
    return 0;
}

} // namespace

bool Read_LUTFile::readZyt1D(QString fileName, bool headerOnly)
{
    Q_UNUSED(headerOnly);
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));

    applyDefaultOrder(LutFormatId::Zyt1D);

    // Header: the range and the length; the first "Length" line ends it.
    float lo = domainMin1D[0], hi = domainMax1D[0];
    int length = 0;
    bool haveLength = false;
    while (!in.atEnd()) {
        QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1String("From"))) {
            float a = 0.0f, b = 0.0f;
            if (LutScan::scan(line.remove(QStringLiteral("From ")), "%f %f", &a, &b) == 2) {
                lo = a;
                hi = b;
            }
        } else if (line.startsWith(QLatin1String("Length"))) {
            LutScan::scan(line.remove(QStringLiteral("Length ")), "%d", &length);
            haveLength = true;
            break;
        }
    }
    if (!haveLength)
        return fail(QStringLiteral("no Length line"));
    if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi))
        return fail(QStringLiteral("the From range must rise"));
    if (!setSize1D(length, false))
        return fail(QStringLiteral("line %1: Length: %2").arg(in.lineNumber()).arg(errorString));
    for (int c = 0; c < 3; ++c) {
        domainMin1D[c] = lo;
        domainMax1D[c] = hi;
    }

    // Samples: every line that yields a number; channels a short line does
    // not give keep the previous sample's values.
    float v[3] = {0.0f, 0.0f, 0.0f};
    int stored = 0;
    while (!in.atEnd()) {
        const QByteArray line = in.readRawLine().trimmed();
        if (line.isEmpty() || LutScan::scan(line, "%f %f %f", &v[0], &v[1], &v[2]) < 1)
            continue;
        if (stored == length) {
            resetDomainMax1D();
            return fail(QStringLiteral("line %1: more samples than the Length of %2").arg(in.lineNumber()).arg(length));
        }
        storeEntry1D(stored++, v[0], v[1], v[2], domainMin1D, domainMax1D);
    }
    in.close();
    resetDomainMax1D();
    if (stored != length)
        return fail(QStringLiteral("%1 samples for a Length of %2").arg(stored).arg(length));
    return true;
}

bool Write_LUTFile::writeZyt1D(QString fileName, Read_LUTFile *lut)
{
    // The format holds normalised values only: the scale is always 1.
    return writeTable1DFile(fileName, lut, LutFormatId::Zyt1D, [&](LutTextStream &stream) {
        stream << "From 0.0 1.0" << '\n' << "Length " << lut->size1D << '\n';
        const QString separator = QStringLiteral(" ");
        for (int i = 0; i < lut->size1D; ++i) {
            writeLut1DEntry(lut->table1D, stream, i, 1, separator);
            stream << '\n';
        }
    });
}

bool Read_LUTFile::recognisesZyt1D(const QByteArray &head)
{
    return zytDimension(head) == 1;
}

bool Read_LUTFile::recognisesZyt3D(const QByteArray &head)
{
    return zytDimension(head) == 3;
}
