// The itx format (identifier 11, ".itx"): a 3D table only. Free text may
// stand before the "LUT_3D_SIZE" line; after it come N^3 lines of three
// numbers, the innermost loop index varying fastest. Its own order keeps the
// channels of each line and puts the fastest file index first in the table
// (red varies fastest, as in the cube format).

#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutTextOutput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QDebug>

namespace {

constexpr int kItxFormat = 11;
const QLatin1String kSizeKeyword("LUT_3D_SIZE");

} // namespace

bool Read_LUTFile::readItx(QString fileName, bool headerOnly)
{
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));

    applyDefaultOrder(kItxFormat);

    // Everything before the size line is ignored, data-like lines included.
    bool sizeLineFound = false;
    while (!in.atEnd()) {
        QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('#'))) {
            qDebug() << "#:" << line;
            continue;
        }
        if (!line.startsWith(kSizeKeyword))
            continue;
        sizeLineFound = true;
        // The number may follow the keyword with or without a blank.
        line.remove(kSizeKeyword);
        int n = 0;
        if (LutScan::scan(line, "%d", &n) < 1)
            return fail(QStringLiteral("line %1: LUT_3D_SIZE without a number").arg(in.lineNumber()));
        if (!setSize3D(n, headerOnly))
            return fail(QStringLiteral("line %1: LUT_3D_SIZE: %2").arg(in.lineNumber()).arg(errorString));
        break;
    }
    if (!sizeLineFound)
        return fail(QStringLiteral("no LUT_3D_SIZE line"));

    if (!headerOnly) {
        // The data follow the size line. Channels a short line does not give
        // keep the previous entry's values.
        float v[3] = {0.0f, 0.0f, 0.0f};
        const int n = size3D;
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                for (int k = 0; k < n; ++k) {
                    for (;;) {
                        if (in.atEnd()) {
                            resetDomainMax3D();
                            in.close();
                            // Only the very last entry may be missing; it stays 0.
                            if (i == n - 1 && j == n - 1 && k == n - 1)
                                return true;
                            return fail(QStringLiteral("the file ends after %1 of %2 cube entries")
                                            .arg(qint64(i) * n * n + qint64(j) * n + k)
                                            .arg(qint64(n) * n * n));
                        }
                        const QByteArray line = in.readRawLine().trimmed();
                        if (line.isEmpty() || line.startsWith('#'))
                            continue;
                        if (LutScan::scan(line, "%f %f %f", &v[0], &v[1], &v[2]) > 0)
                            break;
                    }
                    storeEntry3D(i, j, k, v[0], v[1], v[2], domainMin3D, domainMax3D);
                }
            }
        }
    }

    resetDomainMax3D();
    in.close();
    return true;
}

bool Write_LUTFile::writeItx(QString fileName, Read_LUTFile *lut)
{
    if (lut->size3D > 0 && lut->table3D.size() != lut->size3D)
        return fail(QStringLiteral("the LUT holds no 3D table to write"));
    LutTextOutput out(fileName);
    if (!out.open())
        return fail(QStringLiteral("cannot open for writing: %1").arg(out.errorString()));
    QTextStream &stream = out.stream();
    stream << "LUT_3D_SIZE " << lut->size3D << '\n';
    applyDefaultOrder(kItxFormat);
    const QString separator = QStringLiteral(" ");
    const int n = lut->size3D;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            for (int k = 0; k < n; ++k) {
                writeLut3DEntry(lut->table3D, stream, i, j, k, outputScale, separator);
                stream << '\n';
            }
        }
    }
    if (!out.commit())
        return fail(QStringLiteral("write failed: %1").arg(out.errorString()));
    return true;
}
