// The vf format (".vf"): an "#Inventor V2.1 ascii" line, then "grid_size N N
// N", "global_transform" with sixteen numbers, "data", and one line of three
// reals per lattice point, blue fastest (as OpenColorIO reads the files).
//
// The grid's lattice coordinates are the first three rows of the 4 x 4
// matrix applied to (N x red, N x green, N x blue, 1): a file whose matrix
// is 1/N on the diagonal maps 0..1 onto its grid, which is what is written.
// A file with any other matrix means the matrix and then the grid: it is
// read as a transform (LutMeaning's evaluate) and baked.

#include "calc/LutCalc.h"
#include "lut/LutLog.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QDebug>

#include <cmath>
#include <memory>

namespace {

// Reads up to count numbers from text into values; how many it read, or -1
// when a word is no number.
int numbersOf(const QByteArray &text, double *values, int count)
{
    int read = 0;
    for (const QByteArray &word : text.simplified().split(' ')) {
        if (word.isEmpty())
            continue;
        if (read == count)
            return -1;
        bool ok = false;
        values[read++] = word.toDouble(&ok);
        if (!ok)
            return -1;
    }
    return read;
}

} // namespace

bool Read_LUTFile::readVf(QString fileName, bool headerOnly)
{
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));

    applyDefaultOrder(LutFormatId::Vf);

    if (in.atEnd() || !in.readRawLine().trimmed().startsWith("#Inventor"))
        return fail(QStringLiteral("line 1: no \"#Inventor\" line"));
    int n = 0;
    double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    bool haveTransform = false, data = false;
    while (!in.atEnd()) {
        const QByteArray line = in.readRawLine().trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qint64 number = in.lineNumber();
        if (LutHead::startsWithWord(line, "grid_size")) {
            double g[3];
            if (numbersOf(line.mid(9), g, 3) != 3 || g[0] != g[1] || g[1] != g[2] || g[0] != std::floor(g[0])
                || !(g[0] >= 2 && g[0] <= kMaxCubeSize))
                return fail(QStringLiteral("line %1: grid_size needs three equal sizes from 2 to %2").arg(number).arg(kMaxCubeSize));
            n = int(g[0]);
        } else if (LutHead::startsWithWord(line, "global_transform")) {
            if (numbersOf(line.mid(16), m, 16) != 16)
                return fail(QStringLiteral("line %1: global_transform needs sixteen numbers").arg(number));
            for (double v : m) {
                if (!std::isfinite(v))
                    return fail(QStringLiteral("line %1: global_transform needs finite numbers").arg(number));
            }
            haveTransform = true;
        } else if (line == "data") {
            data = true;
            break;
        } else {
            lutReadDebug() << "vf: line" << number << "read past";
        }
    }
    if (n == 0)
        return fail(QStringLiteral("no grid_size line"));
    if (!data)
        return fail(QStringLiteral("no \"data\" line before the values"));
    if (!setSize3D(n, headerOnly))
        return fail(errorString);
    Q_UNUSED(haveTransform);
    if (headerOnly) {
        in.close();
        return true;
    }

    const float zero[3] = {0.0f, 0.0f, 0.0f}, one[3] = {1.0f, 1.0f, 1.0f};
    const qint64 total = qint64(n) * n * n;
    qint64 e = 0;
    while (!in.atEnd()) {
        const QByteArray line = in.readRawLine().trimmed();
        if (line.isEmpty())
            continue;
        double v[3];
        if (numbersOf(line, v, 3) != 3)
            return fail(QStringLiteral("line %1: a data line holds three numbers").arg(in.lineNumber()));
        if (e == total)
            return fail(QStringLiteral("line %1: more data lines than the grid's %2 points").arg(in.lineNumber()).arg(total));
        storeEntry3D(int(e / (qint64(n) * n)), int(e / n % n), int(e % n), float(v[0]), float(v[1]), float(v[2]), zero, one);
        ++e;
    }
    in.close();
    if (e != total)
        return fail(QStringLiteral("the file ends after %1 of %2 data lines").arg(e).arg(total));

    // The lattice coordinate of channel r: sum over c of m[4r + c] x N x
    // input c, plus m[4r + 3].
    bool plain = true;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            const double want = r == c ? 1.0 : 0.0;
            if (std::fabs(m[4 * r + c] * (c < 3 ? n : 1) - want) > 1e-9)
                plain = false;
        }
    }
    if (!plain) {
        auto grid = std::make_shared<Read_LUTFile>();
        if (!grid->setSize3D(n, false))
            return fail(grid->errorString);
        std::copy(table3D.data(), table3D.data() + 3 * total, grid->table3D.data());
        LutMatrix matrix;
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                matrix.m[r][c] = m[4 * r + c] * n;
            matrix.offset[r] = m[4 * r + 3];
        }
        meaning.evaluateSize3D = n;
        meaning.evaluate = [grid, matrix](double rgb[3]) {
            matrix.apply(rgb);
            LutCalc::evaluate(grid.get(), rgb);
        };
    }
    return true;
}

bool Write_LUTFile::writeVf(QString fileName, Read_LUTFile *lut)
{
    const int n = lut->size3D;
    return writeCubeFile(
        fileName, lut, LutFormatId::Vf,
        [n](LutTextStream &stream) {
            const QByteArray d = QByteArray::number(1.0 / n, 'g', 17);
            stream << "#Inventor V2.1 ascii\n"
                   << "grid_size " << n << ' ' << n << ' ' << n << '\n'
                   << "global_transform " << d << " 0 0 0 0 " << d << " 0 0 0 0 " << d << " 0 0 0 0 1\n"
                   << "data\n";
        },
        QStringLiteral(" "), 1);
}

bool Read_LUTFile::recognisesVf(const QByteArray &head)
{
    const QList<QByteArray> lines = LutHead::lines(head);
    return !lines.isEmpty() && lines[0].startsWith("#Inventor");
}
