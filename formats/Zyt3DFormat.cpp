// The zyt3d format (identifier 16, ".zyt3d"), this tool's own 3D format: a
// "From" line with the input range, a "Length" line with the cube size, then
// one line of three values per lattice point, blue fastest. The lines carry
// no indices: the k-th line after "Length" is the k-th lattice point, so a
// blank line among the data takes a point of its own (which stays 0).

#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

namespace {


} // namespace

bool Read_LUTFile::readZyt3D(QString fileName, bool headerOnly)
{
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));

    applyDefaultOrder(LutFormatId::Zyt3D);

    // Header: up to and including the first "Length" line.
    int n = 0;
    bool haveLength = false;
    while (!in.atEnd()) {
        QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1String("From"))) {
            float lo = 0.0f, hi = 0.0f;
            if (LutScan::scan(line.remove(QLatin1String("From ")), "%f %f", &lo, &hi) == 2) {
                // The range is what every value is divided by; it must have a width.
                if (!(hi > lo))
                    return fail(QStringLiteral("line %1: the \"From\" range %2 to %3 is empty")
                                    .arg(in.lineNumber())
                                    .arg(double(lo))
                                    .arg(double(hi)));
                for (int k = 0; k < 3; ++k) {
                    domainMin3D[k] = lo;
                    domainMax3D[k] = hi;
                }
            }
        } else if (line.startsWith(QLatin1String("Length"))) {
            LutScan::scan(line.remove(QLatin1String("Length ")), "%d", &n);
            haveLength = true;
            break;
        }
    }
    if (!haveLength)
        return fail(QStringLiteral("no \"Length\" line gives the cube size"));
    if (!setSize3D(n, headerOnly))
        return fail(QStringLiteral("line %1: \"Length\": %2").arg(in.lineNumber()).arg(errorString));
    if (headerOnly) {
        in.close();
        return true;
    }

    // Data by position. A line that is blank or yields no number leaves its
    // lattice point at 0; values a short line does not give keep those of
    // the previous line. A file that ends early is incomplete and fails.
    float v[3] = {0.0f, 0.0f, 0.0f};
    for (int a = 0; a < n; ++a) {
        for (int b = 0; b < n; ++b) {
            for (int c = 0; c < n; ++c) {
                if (in.atEnd()) {
                    resetDomainMax3D();
                    in.close();
                    return fail(QStringLiteral("the file ends after %1 of %2 lattice points")
                                    .arg(qint64(a) * n * n + qint64(b) * n + c)
                                    .arg(qint64(n) * n * n));
                }
                const QByteArray line = in.readRawLine().trimmed();
                if (!line.isEmpty() && LutScan::scan(line, "%f %f %f", &v[0], &v[1], &v[2]) >= 1)
                    storeEntry3D(a, b, c, v[0], v[1], v[2], domainMin3D, domainMax3D);
            }
        }
    }

    resetDomainMax3D();
    in.close();
    return true;
}

bool Write_LUTFile::writeZyt3D(QString fileName, Read_LUTFile *lut)
{
    const int n = lut->size3D;
    // The format holds normalised values only: the scale is always 1.
    return writeCubeFile(
        fileName, lut, LutFormatId::Zyt3D,
        [n](LutTextStream &stream) { stream << "From 0.0 1.0" << '\n' << "Length " << n << '\n'; },
        QStringLiteral(" "), 1);
}
