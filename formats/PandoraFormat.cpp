// The Pandora format (identifier 4, ".mga" and ".m3d"): a keyword header
// ("channel", "in", "out", "format", "values") followed by one line per
// lattice point, each a running entry number and three channel values, with
// the blue axis varying fastest. The "in" line gives the number of lattice
// points (N cubed), the "out" line the output range (4096 for 12-bit codes,
// 1 for normalised values).

#include "lut/LutLog.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QDebug>
#include <QRegularExpression>

#include <cmath>

namespace {


// The text of a keyword line with every occurrence of the keyword and every
// run of white space taken out: "in 35937" gives "35937", "channel 3d" "3d".
QString strippedKeywordLine(QString line, const QString &keyword)
{
    static const QRegularExpression whiteSpace(QStringLiteral("\\s+"));
    line.remove(keyword);
    line.remove(whiteSpace);
    return line;
}

} // namespace

bool Read_LUTFile::readPandora(QString fileName, bool headerOnly)
{
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));

    applyDefaultOrder(LutFormatId::Pandora);

    // Header: keywords are recognised by the start of the trimmed line, up
    // to and including the "values" line.
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1Char('#'))) {
            lutReadDebug() << "#:" << line;
        } else if (line.startsWith(QLatin1String("channel"))) {
            if (strippedKeywordLine(line, QStringLiteral("channel")) != QLatin1String("3d"))
                return fail(QStringLiteral("line %1: only \"channel 3d\" files are 3D LUTs").arg(in.lineNumber()));
        } else if (line.startsWith(QLatin1String("format"))) {
            lutReadDebug() << "format:" << line;
        } else if (line.startsWith(QLatin1String("values"))) {
            lutReadDebug() << "values:" << line;
            break;
        } else if (line.startsWith(QLatin1String("in"))) {
            long long points = 0;
            if (LutScan::scan(strippedKeywordLine(line, QStringLiteral("in")), "%ld", &points) == 0)
                return fail(QStringLiteral("line %1: \"in\" needs the number of lattice points").arg(in.lineNumber()));
            if (points < 1)
                return fail(QStringLiteral("line %1: %2 lattice points is not a cube").arg(in.lineNumber()).arg(points));
            // The nearest integer cube root; worked out in double precision
            // and bounded before it becomes an int.
            const double root = std::pow(double(points), 0.3333333333333333) + 0.5;
            const int n = root > double(kMaxCubeSize) + 1.0 ? kMaxCubeSize + 1 : int(root);
            if (!setSize3D(n, headerOnly))
                return fail(QStringLiteral("line %1: \"in\": %2").arg(in.lineNumber()).arg(errorString));
        } else if (line.startsWith(QLatin1String("out"))) {
            long long range = 0;
            if (LutScan::scan(strippedKeywordLine(line, QStringLiteral("out")), "%ld", &range) == 0)
                return fail(QStringLiteral("line %1: \"out\" needs the output range").arg(in.lineNumber()));
            // A range below 1 has no width to divide the values by.
            if (range < 1)
                return fail(QStringLiteral("line %1: output range %2 is not a positive number")
                                .arg(in.lineNumber())
                                .arg(range));
            const float maximum = range > 1 ? float(range - 1) : float(range);
            for (int k = 0; k < 3; ++k) {
                domainMin3D[k] = 0.0f;
                domainMax3D[k] = maximum;
            }
        } else {
            lutReadDebug() << "unkown:" << line;
        }
    }

    if (size3D < 1)
        return fail(QStringLiteral("no \"in\" line gives the number of lattice points"));
    if (headerOnly) {
        in.close();
        return true;
    }

    // Data: the next line of exactly four fields whose scan yields a value
    // is the next lattice point. The entry number is not checked; values a
    // line does not give keep those of the previous data line.
    double d[4] = {0.0, 0.0, 0.0, 0.0};
    float v[3] = {0.0f, 0.0f, 0.0f};
    const EntriesRead entries = readEntries3D(in, v, [&d](const QByteArray &line, float *w) {
        if (line.isEmpty() || line.startsWith('#') || LutScan::fieldCount(line) != 4
            || LutScan::scan(line, "%lf %lf %lf %lf", &d[0], &d[1], &d[2], &d[3]) < 1)
            return false;
        w[0] = float(d[1]), w[1] = float(d[2]), w[2] = float(d[3]);
        return true;
    });
    if (entries == EntriesRead::Truncated)
        return false;

    resetDomainMax3D();
    in.close();
    return true;
}

bool Write_LUTFile::writePandora(QString fileName, Read_LUTFile *lut)
{
    const int n = lut->size3D;
    const int scale = outputScale;
    auto header = [n, scale](LutTextStream &stream) {
        stream << "#HEADER\n#type: 3D cube file\n#format: 1.00\n#created:\n#owner: ostavel\n#END\n"
               << '\n'
               << "channel\t3d" << '\n'
               << "in " << qint64(n) * n * n << '\n';
        // Normalised values (a scale of 1 or less) have the range 1; integer
        // codes of scale S run from 0 to S, which the file gives as S + 1.
        if (scale <= 1)
            stream << "out\t1" << '\n';
        else
            stream << "out " << qint64(scale) + 1 << '\n';
        stream << '\n' << "format lut" << '\n' << '\n' << "values\tred\tgreen\tblue" << '\n';
    };
    // Each line starts with its entry number and a tab.
    return writeCubeFile(fileName, lut, LutFormatId::Pandora, header, QStringLiteral("\t"), outputScale,
                         [](LutTextStream &stream, int, int, int, qint64 entry) { stream << entry << '\t'; });
}

bool Read_LUTFile::recognisesPandora(const QByteArray &head)
{
    const QList<QByteArray> lines = LutHead::lines(head);
    return (!lines.isEmpty() && lines.first().startsWith("#HEADER"))
        || LutHead::firstContentLine(head).startsWith("channel");
}
