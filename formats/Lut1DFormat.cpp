// The indexed 1D lut format (identifier 7, ".lut"): a tab-separated table,
// one line per 8-bit input level holding the index and the red, green and
// blue output. The reader takes 256 entries in line order (the index column
// is not used) and refuses more; the values are 0..255 codes, or reals when
// none is above 1 (what the writer makes at scale 1). The writer writes a
// table of 256 entries as codes (scale 255) or reals (scale 1).

#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <array>
#include <cmath>
#include <vector>

namespace {

constexpr int kLut1DEntries = 256;
constexpr int kLut1DCodes = 255;

} // namespace

bool Read_LUTFile::readLut1D(QString fileName, bool headerOnly)
{
    Q_UNUSED(headerOnly);
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));

    applyDefaultOrder(LutFormatId::Lut1D);

    // Fields a short line does not give keep the previous line's values.
    double index = 0.0, red = 0.0, green = 0.0, blue = 0.0;
    std::vector<std::array<double, 3>> entries;
    entries.reserve(kLut1DEntries);
    double largest = 0.0;
    while (int(entries.size()) < kLut1DEntries) {
        if (in.atEnd())
            return fail(QStringLiteral("the file ends after %1 of %2 entries").arg(entries.size()).arg(kLut1DEntries));
        const QByteArray line = in.readRawLine().trimmed();
        if (line.isEmpty() || line.startsWith('#') || line.startsWith("Index"))
            continue;
        if (LutScan::scan(line, "%lf %lf %lf %lf", &index, &red, &green, &blue) < 1)
            continue;
        for (double v : {red, green, blue}) {
            if (!std::isfinite(v))
                return fail(QStringLiteral("line %1: a value that is not a finite number").arg(in.lineNumber()));
            largest = std::max(largest, v);
        }
        entries.push_back({red, green, blue});
    }
    // A longer table (a 10-bit one, say) read as its first 256 lines would
    // be another curve: further entry lines are refused, other text is not.
    while (!in.atEnd()) {
        const QByteArray line = in.readRawLine().trimmed();
        double more = 0.0;
        if (!line.isEmpty() && !line.startsWith('#') && LutScan::scan(line, "%lf", &more) == 1)
            return fail(QStringLiteral("line %1: more than the %2 entries an indexed 1D lut holds")
                            .arg(in.lineNumber())
                            .arg(kLut1DEntries));
    }
    in.close();

    if (!setSize1D(kLut1DEntries, false))
        return false;
    const float scale = largest > 1.0 ? float(kLut1DCodes) : 1.0f;
    for (int c = 0; c < 3; ++c)
        domainMax1D[c] = scale;
    for (int i = 0; i < int(entries.size()); ++i)
        storeEntry1D(i, float(entries[i][0]), float(entries[i][1]), float(entries[i][2]), domainMin1D, domainMax1D);
    resetDomainMax1D();
    return true;
}

bool Write_LUTFile::writeLut1D(QString fileName, Read_LUTFile *lut)
{
    // The reader takes 256 lines, as reals or as 0..255 codes: any other
    // table would read back as another one.
    if (outputScale >= 2 && outputScale != kLut1DCodes)
        return fail(QStringLiteral("an indexed 1D lut holds 0..255 codes or reals, not codes of scale %1").arg(outputScale));
    if (lut->size1D != kLut1DEntries)
        return fail(QStringLiteral("an indexed 1D lut holds %1 entries, not %2").arg(kLut1DEntries).arg(lut->size1D));
    return writeTable1DFile(fileName, lut, LutFormatId::Lut1D, [&](LutTextStream &stream) {
        stream << "Index\tRed\tGreen\tBlue" << '\n';
        const QString tab = QStringLiteral("\t");
        for (int i = 0; i < lut->size1D; ++i) {
            stream << i << tab;
            writeLut1DEntry(lut->table1D, stream, i, outputScale, tab);
            stream << '\n';
        }
    });
}

bool Read_LUTFile::recognisesLut1D(const QByteArray &head)
{
    return LutHead::firstContentLine(head).startsWith("Index");
}
