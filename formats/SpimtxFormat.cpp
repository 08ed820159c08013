// The spimtx format (".spimtx"): twelve numbers, three rows of a 3 x 3
// matrix each followed by its offset. The offsets are 16-bit codes (65535
// is 1.0). The file is read as a transform (LutMeaning's matrix), baked on
// the output's lattice; the writer writes a transform that is one matrix
// and refuses any other.

#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <cmath>

bool Read_LUTFile::readSpimtx(QString fileName, bool headerOnly)
{
    Q_UNUSED(headerOnly);
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));
    applyDefaultOrder(LutFormatId::Spimtx);

    double values[12];
    int count = 0;
    while (!in.atEnd()) {
        const QByteArray line = in.readRawLine().simplified();
        if (line.isEmpty())
            continue;
        for (const QByteArray &word : line.split(' ')) {
            bool ok = false;
            const double v = word.toDouble(&ok);
            if (!ok || !std::isfinite(v))
                return fail(QStringLiteral("line %1: \"%2\" is no finite number")
                                .arg(in.lineNumber())
                                .arg(QString::fromLatin1(word.left(40))));
            if (count == 12)
                return fail(QStringLiteral("line %1: more than twelve numbers").arg(in.lineNumber()));
            values[count++] = v;
        }
    }
    in.close();
    if (count != 12)
        return fail(QStringLiteral("%1 numbers; a matrix file holds twelve").arg(count));
    LutMatrix matrix;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            matrix.m[r][c] = values[4 * r + c];
        matrix.offset[r] = values[4 * r + 3] / 65535.0;
    }
    meaning.setMatrix(matrix);
    return true;
}

bool Write_LUTFile::writeSpimtx(QString fileName, Read_LUTFile *lut)
{
    if (!lut->meaning.hasMatrix)
        return fail(QStringLiteral("the spimtx format holds a matrix, and this LUT's transform is none "
                                   "(a matrix file or a process list of one Matrix is)"));
    LutTextOutput out(fileName);
    if (!out.open())
        return fail(QStringLiteral("cannot open for writing: %1").arg(out.errorString()));
    LutTextStream &stream = out.stream();
    stream.setRealNumberPrecision(17);
    const LutMatrix &m = lut->meaning.matrix;
    for (int r = 0; r < 3; ++r)
        stream << m.m[r][0] << ' ' << m.m[r][1] << ' ' << m.m[r][2] << ' ' << m.offset[r] * 65535.0 << '\n';
    if (!out.commit())
        return fail(QStringLiteral("write failed: %1").arg(out.errorString()));
    return true;
}

bool Read_LUTFile::recognisesSpimtx(const QByteArray &head)
{
    // Twelve numbers and nothing else, four a line.
    const QList<QByteArray> lines = LutHead::lines(head);
    if (lines.size() != 3)
        return false;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() != 4)
            return false;
        for (const QByteArray &word : words) {
            bool ok = false;
            word.toDouble(&ok);
            if (!ok)
                return false;
        }
    }
    return true;
}
