#include "lut/Read_LUTFile.h"

#include "lut/LutFormats.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"

#include <QDebug>
#include <QLocale>

#include <cmath>

Read_LUTFile::Read_LUTFile(QObject *parent)
    : QObject(parent)
{
}

// The tables release themselves; the sizes go back to 0 with them.
Read_LUTFile::~Read_LUTFile() = default;

bool Read_LUTFile::allocTable3D(LutTable3D &table, int n)
{
    if (n <= 0)
        return false;
    return table.allocate(n);
}

bool Read_LUTFile::allocTable1D(LutTable1D &table, int n)
{
    if (n <= 0)
        return false;
    return table.allocate(n);
}

bool Read_LUTFile::setSize3D(int n, bool headerOnly)
{
    table3D.reset();
    size3D = 0;
    if (n < 1)
        return fail(QStringLiteral("cube size %1 is not a positive number").arg(n));
    if (n > kMaxCubeSize)
        return fail(QStringLiteral("cube size %1 is above the limit of %2").arg(n).arg(kMaxCubeSize));
    size3D = n;
    if (!headerOnly && !allocTable3D(table3D, n)) {
        size3D = 0;
        return fail(QStringLiteral("out of memory for a cube of size %1").arg(n));
    }
    return true;
}

bool Read_LUTFile::setSize1D(int n, bool headerOnly)
{
    table1D.reset();
    size1D = 0;
    if (n < 1)
        return fail(QStringLiteral("1D size %1 is not a positive number").arg(n));
    if (n > kMax1DSize)
        return fail(QStringLiteral("1D size %1 is above the limit of %2").arg(n).arg(kMax1DSize));
    size1D = n;
    if (!headerOnly && !allocTable1D(table1D, n)) {
        size1D = 0;
        return fail(QStringLiteral("out of memory for a 1D table of size %1").arg(n));
    }
    return true;
}

bool Read_LUTFile::readLut(LutFileOptions &options, bool headerOnly)
{
    if (!options.defaultOrder) {
        dataOrderRGB = options.dataOrderRGB;
        tableOrderRGB = options.tableOrderRGB;
        defaultOrder = false;
    } else {
        defaultOrder = true;
    }
    qDebug().noquote() << (options.defaultOrder ? "true" : "false") << (dataOrderRGB ? "true" : "false")
                       << (tableOrderRGB ? "true" : "false");
    errorString.clear();
    bakeRead = options.bake;
    meaning = LutMeaning();

    const LutFormat *format = LutFormats::byId(options.format);
    if (!format)
        return fail(QStringLiteral("unknown format identifier %1").arg(options.format));
    if (!format->reader)
        return fail(QStringLiteral("this build cannot read the %1 format").arg(QLatin1String(format->name)));
    bool ok = (this->*(format->reader))(options.path, headerOnly);
    if (ok && bakeRead)
        ok = checkInputSpans();
    if (!ok && errorString.isEmpty())
        errorString = QStringLiteral("not a readable %1 file").arg(QLatin1String(format->name));
    return ok;
}

void Read_LUTFile::applyDefaultOrder(int formatId)
{
    if (!defaultOrder)
        return;
    if (const LutFormat *format = LutFormats::byId(formatId)) {
        dataOrderRGB = format->readDataRGB;
        tableOrderRGB = format->readTableRGB;
    }
}

bool Read_LUTFile::checkInputSpans()
{
    for (int c = 0; c < 3; ++c) {
        const double width3D = meaning.inputMax3D[c] - meaning.inputMin3D[c];
        const double width1D = meaning.inputMax1D[c] - meaning.inputMin1D[c];
        if (!(width3D > 0.0) || !std::isfinite(width3D) || !(width1D > 0.0) || !std::isfinite(width1D))
            return fail(QStringLiteral("an input range does not rise: its maximum must be above its minimum"));
    }
    return true;
}

bool Read_LUTFile::fail(const QString &reason)
{
    errorString = reason;
    return false;
}

void Read_LUTFile::resetDomainMax3D()
{
    domainMax3D[0] = domainMax3D[1] = domainMax3D[2] = 1.0f;
}

void Read_LUTFile::resetDomainMax1D()
{
    domainMax1D[0] = domainMax1D[1] = domainMax1D[2] = 1.0f;
}

Read_LUTFile::EntriesRead Read_LUTFile::readEntries3D(LutTextInput &in, float v[3],
                                                      const std::function<bool(const QByteArray &, float *)> &parse)
{
    const int n = size3D;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            for (int k = 0; k < n; ++k) {
                for (;;) {
                    if (in.atEnd()) {
                        if (i == n - 1 && j == n - 1 && k == n - 1)
                            return EntriesRead::LastMissing;
                        fail(QStringLiteral("the file ends after %1 of %2 cube entries")
                                 .arg(qint64(i) * n * n + qint64(j) * n + k)
                                 .arg(qint64(n) * n * n));
                        return EntriesRead::Truncated;
                    }
                    if (parse(in.readRawLine().trimmed(), v))
                        break;
                }
                storeEntry3D(i, j, k, v[0], v[1], v[2], domainMin3D, domainMax3D);
            }
        }
    }
    return EntriesRead::Complete;
}

Read_LUTFile::EntriesRead Read_LUTFile::readEntries1D(LutTextInput &in, float v[3],
                                                      const std::function<bool(const QByteArray &, float *)> &parse)
{
    const LineOrder1D lineOrder(this);
    const int n = size1D;
    for (int i = 0; i < n; ++i) {
        for (;;) {
            if (in.atEnd()) {
                if (i == n - 1)
                    return EntriesRead::LastMissing;
                fail(QStringLiteral("the file ends after %1 of %2 1D entries").arg(i).arg(n));
                return EntriesRead::Truncated;
            }
            if (parse(in.readRawLine().trimmed(), v))
                break;
        }
        storeEntry1D(i, v[0], v[1], v[2], domainMin1D, domainMax1D);
    }
    return EntriesRead::Complete;
}

bool Read_LUTFile::scanEntryLine(const QByteArray &line, float *w)
{
    return !line.isEmpty() && LutScan::scan(line, "%f %f %f", &w[0], &w[1], &w[2]) > 0;
}

bool Read_LUTFile::readSizeLine(LutTextInput &in, const QString &keyword, bool headerOnly)
{
    while (!in.atEnd()) {
        QString line = in.readLine().trimmed();
        if (!line.startsWith(keyword))
            continue;
        line.remove(keyword);
        int n = 0;
        if (LutScan::scan(line, "%d", &n) < 1)
            return fail(QStringLiteral("line %1: %2 without a number").arg(in.lineNumber()).arg(keyword));
        if (!setSize3D(n, headerOnly))
            return fail(QStringLiteral("line %1: %2: %3").arg(in.lineNumber()).arg(keyword, errorString));
        return true;
    }
    return fail(QStringLiteral("no %1 line").arg(keyword));
}

bool Read_LUTFile::readSizedCubeText(const QString &fileName, bool headerOnly, int formatId, const QString &keyword)
{
    LutTextInput in;
    if (!in.open(fileName))
        return fail(QStringLiteral("cannot open: %1").arg(in.errorString()));
    applyDefaultOrder(formatId);
    // Everything before the size line is ignored, data-like lines included.
    if (!readSizeLine(in, keyword, headerOnly))
        return false;
    if (!headerOnly) {
        float v[3] = {0.0f, 0.0f, 0.0f};
        const EntriesRead entries = readEntries3D(in, v, [](const QByteArray &line, float *w) {
            return !line.startsWith('#') && scanEntryLine(line, w);
        });
        if (entries == EntriesRead::Truncated)
            return false;
    }
    resetDomainMax3D();
    return true;
}

namespace {

QString spanText(const double lo[3], const double hi[3])
{
    if (lo[0] == lo[1] && lo[1] == lo[2] && hi[0] == hi[1] && hi[1] == hi[2])
        return QStringLiteral("%1..%2").arg(lo[0]).arg(hi[0]);
    return QStringLiteral("%1..%2, %3..%4, %5..%6").arg(lo[0]).arg(hi[0]).arg(lo[1]).arg(hi[1]).arg(lo[2]).arg(hi[2]);
}

} // namespace

QStringList Read_LUTFile::plainReadingLosses(int outputDimension) const
{
    QStringList losses;
    if (meaning.evaluate)
        return losses; // such a file is always baked
    bool shaperIsIdentity = true;
    for (const LutCurve &curve : meaning.shaper)
        shaperIsIdentity = shaperIsIdentity && curve.isIdentity();
    if (!shaperIsIdentity) {
        losses << QStringLiteral("%1 not applied")
                      .arg(meaning.shaperName.isEmpty() ? QStringLiteral("shaper") : meaning.shaperName);
    }
    const bool has3D = outputDimension == 3 && size3D >= 1 && table3D.size() == size3D;
    const bool has1D = size1D >= 1 && table1D.size() == size1D;
    if (has3D && has1D && meaning.table1DFeeds3D) {
        bool identity = meaning.inputSpan1DIsUnit();
        for (int i = 0; identity && i < size1D; ++i) {
            const double ramp = size1D == 1 ? 0.0 : double(i) / (size1D - 1);
            for (int c = 0; c < 3; ++c)
                identity = identity && std::fabs(table1D[i][c] - ramp) <= 1e-6;
        }
        if (!identity)
            losses << QStringLiteral("1D shaper in front of the 3D table not applied");
    }
    if (has3D && !meaning.inputSpan3DIsUnit())
        losses << QStringLiteral("3D input range %1 not applied").arg(spanText(meaning.inputMin3D, meaning.inputMax3D));
    if (has1D && !has3D && !meaning.inputSpan1DIsUnit())
        losses << QStringLiteral("1D input range %1 not applied").arg(spanText(meaning.inputMin1D, meaning.inputMax1D));
    if (meaning.clampedValues > 0)
        losses << QStringLiteral("%1 %2 outside 0..1 clamped")
                      .arg(QLocale(QLocale::English).toString(meaning.clampedValues),
                           meaning.clampedValues == 1 ? QStringLiteral("value") : QStringLiteral("values"));
    return losses;
}
