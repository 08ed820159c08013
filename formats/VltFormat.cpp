// The vlt format (".vlt") of Varicam cameras: a version comment ("# panasonic
// vlt file version 1.0"), a source comment ("# source vlt file \"NAME\""),
// "LUT_3D_SIZE 17", an empty line, then one line per lattice point of three
// integer codes 0..4095 (12 bits), red fastest. The lattice inputs are
// 0, 256, ... 3840, 4095: evenly spread over 0..1.

#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

namespace {

constexpr int kVltSize = 17;
constexpr int kVltScale = 4095;

bool isVersionLine(const QByteArray &line)
{
    return line.toLower().startsWith("# panasonic vlt file");
}

// Reads a data line of exactly three decimal integers. The scanner stops at
// the first character that is not part of a number, so anything other than
// digits, blanks and a sign at the start of a field ("14x", "1-2") is refused
// here rather than read as a shorter number.
bool scanCodes(const QByteArray &line, int v[3])
{
    char previous = ' ';
    for (const char c : line) {
        const bool blank = c == ' ' || c == '\t';
        const bool sign = (c == '-' || c == '+') && (previous == ' ' || previous == '\t');
        if (!blank && !sign && (c < '0' || c > '9'))
            return false;
        previous = c;
    }
    return LutScan::fieldCount(line) == 3 && LutScan::scan(line, "%d %d %d", &v[0], &v[1], &v[2]) == 3;
}

} // namespace

bool Read_LUTFile::readVlt(QString fileName, bool headerOnly)
{
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));
    applyDefaultOrder(LutFormatId::Vlt);

    if (in.atEnd() || !isVersionLine(in.readRawLine().trimmed()))
        return fail(QStringLiteral("line 1: no \"# panasonic vlt file\" line"));
    int n = 0;
    while (!in.atEnd()) {
        const QByteArray line = in.readRawLine().trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (!LutHead::startsWithWord(line, "LUT_3D_SIZE") || LutScan::scan(line.mid(11), "%d", &n) != 1)
            return fail(QStringLiteral("line %1: LUT_3D_SIZE and the cube size expected").arg(in.lineNumber()));
        if (n != kVltSize)
            return fail(QStringLiteral("line %1: a vlt cube has %2 points per axis, not %3").arg(in.lineNumber()).arg(kVltSize).arg(n));
        break;
    }
    if (n == 0)
        return fail(QStringLiteral("no LUT_3D_SIZE line"));
    if (!setSize3D(n, headerOnly))
        return fail(errorString);
    if (headerOnly) {
        in.close();
        return true;
    }

    const float lo[3] = {0.0f, 0.0f, 0.0f}, hi[3] = {float(kVltScale), float(kVltScale), float(kVltScale)};
    const qint64 total = qint64(n) * n * n;
    qint64 e = 0;
    while (!in.atEnd()) {
        const QByteArray line = in.readRawLine().trimmed();
        if (line.isEmpty())
            continue;
        int v[3] = {0, 0, 0};
        if (!scanCodes(line, v))
            return fail(QStringLiteral("line %1: a data line holds three integer codes").arg(in.lineNumber()));
        if (e == total)
            return fail(QStringLiteral("line %1: more data lines than the %2 lattice points").arg(in.lineNumber()).arg(total));
        storeEntry3D(int(e / (qint64(n) * n)), int(e / n % n), int(e % n), float(v[0]), float(v[1]), float(v[2]), lo, hi);
        ++e;
    }
    in.close();
    resetDomainMax3D();
    if (e != total)
        return fail(QStringLiteral("the file ends after %1 of %2 lattice points").arg(e).arg(total));
    return true;
}

bool Write_LUTFile::writeVlt(QString fileName, Read_LUTFile *lut)
{
    if (outputScale != kVltScale)
        return fail(QStringLiteral("the vlt format holds 12-bit codes (a scale of %1), not a scale of %2").arg(kVltScale).arg(outputScale));
    if (lut->size3D != kVltSize)
        return fail(QStringLiteral("the vlt format holds a cube of %1 points per axis, not %2").arg(kVltSize).arg(lut->size3D));
    const int n = lut->size3D;
    return writeTable3DFile(fileName, lut, LutFormatId::Vlt, [&](LutTextStream &stream) {
        stream << "# panasonic vlt file version 1.0\n"
               << "# source vlt file \"\"\n"
               << "LUT_3D_SIZE " << n << "\n\n";
        const int first = dataOrderRGB ? 0 : 2;
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                for (int k = 0; k < n; ++k) {
                    const float *v = entry3D(lut->table3D, i, j, k);
                    stream << lutCode(v[first], kVltScale) << ' ' << lutCode(v[1], kVltScale) << ' '
                           << lutCode(v[2 - first], kVltScale) << '\n';
                }
            }
        }
    });
}

bool Read_LUTFile::recognisesVlt(const QByteArray &head)
{
    const QList<QByteArray> lines = LutHead::lines(head);
    return !lines.isEmpty() && isVersionLine(lines[0]);
}
