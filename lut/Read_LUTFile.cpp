#include "lut/Read_LUTFile.h"

#include "lut/LutFormats.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"

#include <QDebug>

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

    const LutFormat *format = LutFormats::byId(options.format);
    if (!format)
        return fail(QStringLiteral("unknown format identifier %1").arg(options.format));
    if (!format->reader)
        return fail(QStringLiteral("this build cannot read the %1 format").arg(QLatin1String(format->name)));
    const bool ok = (this->*(format->reader))(options.path, headerOnly);
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
