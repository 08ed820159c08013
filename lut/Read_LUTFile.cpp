#include "lut/LutLog.h"
#include "lut/Read_LUTFile.h"

#include "lut/LutFormats.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"

#include <QDebug>
#include <QLocale>

#include <atomic>
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
    lutReadDebug().noquote() << (options.defaultOrder ? "true" : "false") << (dataOrderRGB ? "true" : "false")
                       << (tableOrderRGB ? "true" : "false");
    errorString.clear();
    bakeRead = options.bake;
    cccid = options.cccid;
    meaning = LutMeaning();

    const LutFormat *format = LutFormats::byId(int(options.format));
    if (!format)
        return fail(QStringLiteral("unknown format identifier %1").arg(int(options.format)));
    if (!format->reader)
        return fail(QStringLiteral("this build cannot read the %1 format").arg(QLatin1String(format->name)));
    bool ok = (this->*(format->reader))(options.path, headerOnly);
    if (ok && bakeRead)
        ok = checkInputSpans();
    if (!ok && errorString.isEmpty())
        errorString = QStringLiteral("not a readable %1 file").arg(QLatin1String(format->name));
    return ok;
}

void Read_LUTFile::applyDefaultOrder(LutFormatId formatId)
{
    if (!defaultOrder)
        return;
    const LutFormat &format = LutFormats::row(formatId);
    dataOrderRGB = format.readOrder.dataRGB;
    tableOrderRGB = format.readOrder.tableRGB;
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

namespace {

// The values one entry line gives.
struct LineValues
{
    int count;
    float values[3];
};

} // namespace

template <typename At>
Read_LUTFile::EntriesRead Read_LUTFile::readEntryLines(LutTextInput &in, qint64 total, float v[3],
                                                       const EntryValues &values, bool parallel, At at,
                                                       qint64 *stored)
{
    qint64 &entries = *stored;
    entries = 0;
    if (total <= 0)
        return EntriesRead::Complete;
    bool malformed = false;
    auto store = at(0);
    qint64 storeAt = 0; // the entry store stores next
    // A block whose lines are all whole entries, or no entries, is stored
    // part by part on several threads: a part's entries start where the
    // entries of the parts before it end. A line with some of the values
    // (the others come from the line before) or a malformed one takes its
    // block through the in-order take below.
    struct Split
    {
        At &at;
        qint64 &entries;
        qint64 total;
        float *v;
        std::atomic<long long> clamped{0};

        int items(const LineValues &parsed) const { return parsed.count == 3 ? 1 : parsed.count == 0 ? 0 : -1; }
        LutTextLines::PartTaken takePart(qint64 firstItem, const LutTextLines::ParsedLine<LineValues> *lines,
                                         qint64 count)
        {
            LutTextLines::PartTaken taken;
            qint64 index = entries + firstItem;
            if (index >= total) {
                taken.stopped = true;
                return taken;
            }
            auto part = at(index);
            long long partClamped = 0;
            for (; taken.lines < count && !taken.stopped; ++taken.lines) {
                const LineValues &parsed = lines[taken.lines].parsed;
                if (parsed.count == 0)
                    continue;
                part(parsed.values, partClamped);
                ++taken.items;
                taken.last = taken.lines;
                taken.stopped = ++index == total;
            }
            clamped += partClamped;
            return taken;
        }
        void taken(qint64 items, const LineValues *last)
        {
            entries += items;
            if (last)
                std::copy(last->values, last->values + 3, v);
        }
    } split{at, entries, total, v};
    const auto blockBytes = [&] {
        // A block of about the rest of the table (a line of three values
        // takes some 30 bytes), so that little is parsed beyond it.
        return int(qBound<qint64>(1 << 14, (total - entries) * 48, LutTextInput::kMaxLineLength));
    };
    const auto parse = [&](const QByteArray &line, LineValues &parsed) { parsed.count = values(line, parsed.values); };
    const auto take = [&](const LineValues &parsed) {
        if (parsed.count < 0) {
            malformed = true;
            return false;
        }
        if (parsed.count == 0)
            return true;
        for (int c = 0; c < parsed.count && c < 3; ++c)
            v[c] = parsed.values[c];
        // After a block stored in parts, the store moves on to where they ended.
        if (storeAt != entries)
            store = at(entries);
        store(v, meaning.clampedValues);
        storeAt = ++entries;
        return entries < total;
    };
    const bool complete = in.readLines<LineValues>(parallel, blockBytes, parse, take, split);
    meaning.clampedValues += split.clamped;
    if (malformed)
        return EntriesRead::Malformed;
    if (complete)
        return EntriesRead::Complete;
    return entries == total - 1 ? EntriesRead::LastMissing : EntriesRead::Truncated;
}

namespace {

// The entries of the 3D table in file order (first index slowest) and of
// the 1D table, stored with the container's store operations against its
// domains; a parser that keeps state runs line by line.
Read_LUTFile::EntriesRead readTable3D(Read_LUTFile &lut, LutTextInput &in, float v[3],
                                      const Read_LUTFile::EntryValues &values, bool parallel)
{
    const int n = lut.size3D;
    const qint64 total = n > 0 ? qint64(n) * n * n : 0;
    qint64 stored = 0;
    // The store from one entry on keeps the indices of the next, the last
    // one fastest, instead of dividing the entry's number at each entry.
    struct Store
    {
        Read_LUTFile *lut;
        int n, a, b, c;
        void operator()(const float *w, long long &clamped)
        {
            lut->storeEntry3D(a, b, c, w[0], w[1], w[2], lut->domainMin3D, lut->domainMax3D, clamped);
            if (++c == n) {
                c = 0;
                if (++b == n) {
                    b = 0;
                    ++a;
                }
            }
        }
    };
    const auto at = [&lut, n](qint64 index) {
        const qint64 plane = qint64(n) * n;
        return Store{&lut, n, int(index / plane), int(index % plane / n), int(index % n)};
    };
    const Read_LUTFile::EntriesRead result = lut.readEntryLines(in, total, v, values, parallel, at, &stored);
    if (result == Read_LUTFile::EntriesRead::Truncated)
        lut.fail(QStringLiteral("the file ends after %1 of %2 cube entries").arg(stored).arg(total));
    if (result == Read_LUTFile::EntriesRead::Malformed)
        lut.fail(QStringLiteral("line %1: cube entry %2 is not three numbers").arg(in.lineNumber()).arg(stored + 1));
    return result;
}

Read_LUTFile::EntriesRead readTable1D(Read_LUTFile &lut, LutTextInput &in, float v[3],
                                      const Read_LUTFile::EntryValues &values, bool parallel)
{
    const Read_LUTFile::LineOrder1D lineOrder(&lut);
    const int n = lut.size1D;
    qint64 stored = 0;
    struct Store
    {
        Read_LUTFile *lut;
        int i;
        void operator()(const float *w, long long &clamped)
        {
            lut->storeEntry1D(i++, w[0], w[1], w[2], lut->domainMin1D, lut->domainMax1D, clamped);
        }
    };
    const auto at = [&lut](qint64 index) { return Store{&lut, int(index)}; };
    const Read_LUTFile::EntriesRead result = lut.readEntryLines(in, qMax(n, 0), v, values, parallel, at, &stored);
    if (result == Read_LUTFile::EntriesRead::Truncated)
        lut.fail(QStringLiteral("the file ends after %1 of %2 1D entries").arg(stored).arg(n));
    if (result == Read_LUTFile::EntriesRead::Malformed)
        lut.fail(QStringLiteral("line %1: 1D entry %2 is not three numbers").arg(in.lineNumber()).arg(stored + 1));
    return result;
}

// A parser that works on the caller's working values, as an EntryValues
// parser that gives all three.
Read_LUTFile::EntryValues wholeEntries(const std::function<bool(const QByteArray &, float *)> &parse, float *v)
{
    const auto *entry = &parse;
    return [entry, v](const QByteArray &line, float *given) {
        if (!(*entry)(line, v))
            return 0;
        for (int c = 0; c < 3; ++c)
            given[c] = v[c];
        return 3;
    };
}

} // namespace

Read_LUTFile::EntriesRead Read_LUTFile::readEntries3D(LutTextInput &in, float v[3],
                                                      const std::function<bool(const QByteArray &, float *)> &parse)
{
    return readTable3D(*this, in, v, wholeEntries(parse, v), false);
}

Read_LUTFile::EntriesRead Read_LUTFile::readEntries1D(LutTextInput &in, float v[3],
                                                      const std::function<bool(const QByteArray &, float *)> &parse)
{
    return readTable1D(*this, in, v, wholeEntries(parse, v), false);
}

Read_LUTFile::EntriesRead Read_LUTFile::readEntryValues3D(LutTextInput &in, float v[3], const EntryValues &values)
{
    return readTable3D(*this, in, v, values, true);
}

Read_LUTFile::EntriesRead Read_LUTFile::readEntryValues1D(LutTextInput &in, float v[3], const EntryValues &values)
{
    return readTable1D(*this, in, v, values, true);
}

int Read_LUTFile::scanEntryValues(const QByteArray &line, float *values)
{
    return line.isEmpty() ? 0 : LutScan::scan(line, "%f %f %f", &values[0], &values[1], &values[2]);
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

bool Read_LUTFile::readSizedCubeText(const QString &fileName, bool headerOnly, LutFormatId formatId, const QString &keyword)
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
        const EntriesRead entries = readEntryValues3D(in, v, [](const QByteArray &line, float *w) {
            return line.startsWith('#') ? 0 : scanEntryValues(line, w);
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

QString clampedText(long long count)
{
    return QStringLiteral("%1 %2 outside 0..1 clamped")
        .arg(QLocale(QLocale::English).toString(count), count == 1 ? QStringLiteral("value") : QStringLiteral("values"));
}

} // namespace

QStringList Read_LUTFile::plainReadingLosses(int outputDimension, bool frontKept) const
{
    QStringList losses;
    if (meaning.evaluate)
        return losses; // such a file is always baked
    if (frontKept) {
        if (meaning.clampedValues > 0)
            losses << clampedText(meaning.clampedValues);
        return losses;
    }
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
        losses << clampedText(meaning.clampedValues);
    return losses;
}
