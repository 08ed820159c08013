// The spi3d format (identifier 13, ".spi3d"): a "SPILUT 1.0" line, a
// channel-count line ("3 3"), the cube size three times, then one line per
// lattice point giving its red, green and blue indices and its three values.
// Since every data line names its own lattice point, the lines may come in
// any order; a point given twice takes the later line.

#include "lut/LutLog.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QDebug>

#include <vector>

namespace {


} // namespace

bool Read_LUTFile::readSpi3D(QString fileName, bool headerOnly)
{
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));

    applyDefaultOrder(LutFormatId::Spi3D);

    // Everything before the "SPILUT" line is ignored.
    for (;;) {
        if (in.atEnd())
            return fail(QStringLiteral("no \"SPILUT\" line"));
        const QByteArray line = in.readRawLine().trimmed();
        if (line.startsWith("SPILUT")) {
            lutReadDebug() << "#:" << line;
            break;
        }
    }

    // The channel counts: both must be equal.
    for (;;) {
        if (in.atEnd())
            return fail(QStringLiteral("the file ends before its channel counts"));
        const QByteArray line = in.readRawLine().trimmed();
        int inChannels = 0, outChannels = 0;
        if (line.isEmpty() || LutScan::scan(line, "%d %d", &inChannels, &outChannels) < 1)
            continue;
        if (inChannels != outChannels)
            return fail(QStringLiteral("line %1: channel counts %2 and %3 differ")
                            .arg(in.lineNumber())
                            .arg(inChannels)
                            .arg(outChannels));
        break;
    }

    // The cube size, once per axis: all three must be equal.
    for (;;) {
        if (in.atEnd())
            return fail(QStringLiteral("the file ends before its cube size"));
        const QByteArray line = in.readRawLine().trimmed();
        int n[3] = {0, 0, 0};
        if (line.isEmpty() || LutScan::scan(line, "%d %d %d ", &n[0], &n[1], &n[2]) < 1)
            continue;
        if (n[0] != n[1] || n[1] != n[2])
            return fail(QStringLiteral("line %1: the cube sizes %2, %3 and %4 differ")
                            .arg(in.lineNumber())
                            .arg(n[0])
                            .arg(n[1])
                            .arg(n[2]));
        if (!setSize3D(n[0], headerOnly))
            return fail(QStringLiteral("line %1: %2").arg(in.lineNumber()).arg(errorString));
        break;
    }
    if (headerOnly) {
        in.close();
        return true;
    }

    // Data lines in any order. A line whose indices fall outside the cube,
    // or that does not give all six numbers, is skipped; a lattice point
    // that no line gives makes the file incomplete.
    const int size = size3D;
    const qint64 points = qint64(size) * size * size;
    std::vector<bool> given(size_t(points), false);
    qint64 givenCount = 0;
    // The lines are scanned a block at a time on several threads and
    // stored in file order.
    struct DataLine
    {
        int converted;
        int i, j, k;
        float r, g, b;
    };
    qint64 lineNumber = in.lineNumber();
    in.readLines<DataLine>(
        true, [] { return LutTextInput::kMaxLineLength; },
        [](const QByteArray &line, DataLine &data) {
            data.converted = line.isEmpty()
                ? 0
                : LutScan::scan(line, "%d %d %d %f %f %f", &data.i, &data.j, &data.k, &data.r, &data.g, &data.b);
        },
        [&](const DataLine &data) {
            ++lineNumber;
            if (data.converted == 0)
                return true;
            if (data.converted < 6) {
                lutReadDebug() << "spi3d: incomplete data line" << lineNumber << "skipped";
                return true;
            }
            if (unsigned(data.i) >= unsigned(size) || unsigned(data.j) >= unsigned(size) || unsigned(data.k) >= unsigned(size)) {
                lutReadDebug() << "spi3d: line" << lineNumber << "indices outside the cube, skipped";
                return true;
            }
            storeEntry3D(data.i, data.j, data.k, data.r, data.g, data.b, domainMin3D, domainMax3D);
            const size_t index = size_t((qint64(data.i) * size + data.j) * size + data.k);
            if (!given[index]) {
                given[index] = true;
                ++givenCount;
            }
            return true;
        });

    resetDomainMax3D();
    in.close();
    if (givenCount != points)
        return fail(QStringLiteral("%1 of the %2 lattice points have no data line")
                        .arg(points - givenCount)
                        .arg(points));
    return true;
}

bool Write_LUTFile::writeSpi3D(QString fileName, Read_LUTFile *lut)
{
    const int n = lut->size3D;
    auto header = [n](LutTextStream &stream) {
        stream << "SPILUT 1.0" << '\n' << "3 3" << '\n' << n << ' ' << n << ' ' << n << '\n';
    };
    // Each line starts with the lattice indices of its entry.
    return writeCubeFile(fileName, lut, LutFormatId::Spi3D, header, QStringLiteral(" "), outputScale,
                         [](LutTextStream &stream, int i, int j, int k, qint64) {
                             stream << i << ' ' << j << ' ' << k << ' ';
                         });
}

bool Read_LUTFile::recognisesSpi3D(const QByteArray &head)
{
    return LutHead::firstContentLine(head).startsWith("SPILUT");
}
