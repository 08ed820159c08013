#include "lut/Write_LUTFile.h"

#include "lut/LutFormats.h"
#include "lut/LutMemory.h"
#include "lut/LutParallel.h"
#include "lut/LutTextOutput.h"
#include "lut/Read_LUTFile.h"

#include <QLatin1String>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

Write_LUTFile::Write_LUTFile(QObject *parent)
    : QObject(parent)
{
}

Write_LUTFile::~Write_LUTFile() = default;

bool Write_LUTFile::writeLut(LutFileOptions &options, Read_LUTFile *lut)
{
    dataOrderRGB = options.dataOrderRGB;
    tableOrderRGB = options.tableOrderRGB;
    defaultOrder = options.defaultOrder;
    outputScale = options.outputScale;
    sourcePath = options.sourcePath;
    errorString.clear();

    const LutFormat *format = LutFormats::byId(int(options.format));
    if (!format)
        return fail(QStringLiteral("unknown format identifier %1").arg(int(options.format)));
    if (!format->writer)
        return fail(QStringLiteral("the %1 format has no writer").arg(QLatin1String(format->name)));
    // Integer codes in a format whose reader takes every number as a real
    // would read back as a different table.
    if (outputScale >= 2 && !format->takesScale())
        return fail(QStringLiteral("the %1 format holds reals only: it takes no scale of %2")
                        .arg(QLatin1String(format->name))
                        .arg(outputScale));
    const bool ok = (this->*(format->writer))(options.path, lut);
    if (!ok && errorString.isEmpty())
        errorString = QStringLiteral("cannot write the file");
    return ok;
}

void Write_LUTFile::applyDefaultOrder(LutFormatId formatId)
{
    if (!defaultOrder)
        return;
    const LutFormat &format = LutFormats::row(formatId);
    if (format.writerForcesOrder) {
        dataOrderRGB = format.writeOrder.dataRGB;
        tableOrderRGB = format.writeOrder.tableRGB;
    }
}

namespace {

// Opens fileName, runs write on its stream and puts the file in place.
bool writeTextFile(Write_LUTFile *writer, const QString &fileName, const std::function<void(LutTextStream &)> &write)
{
    LutTextOutput out(fileName);
    if (!out.open())
        return writer->fail(QStringLiteral("cannot open for writing: %1").arg(out.errorString()));
    write(out.stream());
    if (!out.commit())
        return writer->fail(QStringLiteral("write failed: %1").arg(out.errorString()));
    return true;
}

// A separator as the bytes it is written as (UTF-8).
class SeparatorBytes
{
public:
    explicit SeparatorBytes(const QString &separator)
    {
        m_size = separator.size();
        for (int i = 0; i < m_size && m_size <= int(sizeof m_plain); ++i) {
            const ushort u = separator.at(i).unicode();
            if (u >= 0x80) {
                m_size = int(sizeof m_plain) + 1;
                break;
            }
            m_plain[i] = char(u);
        }
        m_bytes = m_plain;
        if (m_size > int(sizeof m_plain)) {
            m_utf8 = separator.toUtf8();
            m_size = m_utf8.size();
            m_bytes = m_utf8.constData();
        }
    }
    SeparatorBytes(const SeparatorBytes &) = delete;
    SeparatorBytes &operator=(const SeparatorBytes &) = delete;

    const char *data() const { return m_bytes; }
    int size() const { return m_size; }
    char *append(char *out) const
    {
        if (m_size == 1) {
            *out = m_plain[0];
            return out + 1;
        }
        std::memcpy(out, m_bytes, size_t(m_size));
        return out + m_size;
    }

private:
    char m_plain[16];
    int m_size = 0;
    const char *m_bytes;
    QByteArray m_utf8; // a long or non-ASCII separator
};

// The integer form: the code of value at the depth of scale (lutCode).
inline char *appendCode(char *out, int scale, float value)
{
    return std::to_chars(out, out + 24, lutCode(double(value), scale)).ptr;
}

// The room one value takes at most in the real form of the given precision
// (fixed notation of the largest double has 309 digits before the point),
// with a field of up to 8 characters.
int valueRoom(int precision)
{
    return 340 + precision;
}

// A value in the given notation and precision, right-aligned in a field of
// width characters (padded with blanks).
inline char *appendReal(char *out, float value, QTextStream::RealNumberNotation notation, int precision, int width)
{
    int n = 0;
    if (notation == QTextStream::FixedNotation && precision == 6)
        n = formatFixed6(out, value);
    if (n == 0)
        n = formatLutReal(out, valueRoom(precision), double(value), notation, precision);
    if (n >= 0 && n < width) {
        std::memmove(out + (width - n), out, size_t(n));
        std::memset(out, ' ', size_t(width - n));
        n = width;
    }
    return out + n;
}

// How the entries of one 3D table are written: the writer's order flags,
// the scale, the separator and the stream's precision, all fixed for the
// whole table.
struct EntryForm3D
{
    EntryForm3D(const Write_LUTFile &writer, int scale, const QString &separator, int precision)
        : tableOrderRGB(writer.tableOrderRGB), first(writer.dataOrderRGB ? 0 : 2), scale(scale),
          separator(separator), precision(precision)
    {
    }
    // The bytes one entry takes at most.
    int room() const { return 3 * (valueRoom(precision) + separator.size()); }
    // Entry (p, q, r) of the loops: table[p][q][r] when tableOrderRGB is
    // set, else table[r][q][p]; its channels in the data order. Reals are
    // fixed notation in fields of 8 with the separator between them; codes
    // are each followed by the separator.
    char *append(char *out, const LutTable3D &table, int p, int q, int r) const
    {
        return append(out, tableOrderRGB ? table[p][q][r] : table[r][q][p]);
    }
    // One entry's three values (in table order) in the data order.
    char *append(char *out, const float *entry) const
    {
        const float values[3] = {entry[first], entry[1], entry[2 - first]};
        if (scale >= 2) {
            for (const float value : values)
                out = separator.append(appendCode(out, scale, value));
            return out;
        }
        for (int i = 0; i < 3; ++i) {
            if (i > 0)
                out = separator.append(out);
            // Six decimals, the usual precision, take the integer path;
            // it gives at least eight characters, so no padding is due.
            const int n = precision == 6 ? formatFixed6(out, values[i]) : 0;
            out = n > 0 ? out + n : appendReal(out, values[i], QTextStream::FixedNotation, precision, 8);
        }
        return out;
    }

    bool tableOrderRGB;
    int first; // the channel written first: 0, or 2 for the reversed data order
    int scale;
    SeparatorBytes separator;
    int precision;
};

// The lines of a cube-shaped body are formatted in blocks of whole planes
// of the first loop index, on several threads for a large table.
constexpr qint64 kLinesPerBlock = 8192;

// The file path behind writeTable3DFile and writeTable1DFile.
bool writeTableFile(Write_LUTFile *writer, const QString &fileName, bool holdsTable, const char *dimension,
                    LutFormatId formatId, const std::function<void(LutTextStream &)> &write)
{
    if (!holdsTable)
        return writer->fail(QStringLiteral("the LUT holds no %1 table to write").arg(QLatin1String(dimension)));
    return writeTextFile(writer, fileName, [&](LutTextStream &stream) {
        writer->applyDefaultOrder(formatId);
        write(stream);
    });
}

} // namespace

bool Write_LUTFile::writeCubeFile(const QString &fileName, const Read_LUTFile *lut, LutFormatId formatId,
                                  const std::function<void(LutTextStream &)> &header, const QString &separator,
                                  int scale, const LinePrefix &linePrefix,
                                  const std::function<void(LutTextStream &)> &footer)
{
    return writeTable3DFile(fileName, lut, formatId, [&](LutTextStream &stream) {
        header(stream);
        stream.setRealNumberNotation(QTextStream::FixedNotation);
        const int n = lut->size3D;
        if (n <= 0)
            return;
        const EntryForm3D form(*this, scale, separator, stream.realNumberPrecision());
        const LutTable3D &table = lut->table3D;
        // Lines (i, j, k) of planes [firstPlane, endPlane), the entry number
        // running on from the first line of firstPlane.
        const auto writePlanes = [&](LutTextStream &out, int firstPlane, int endPlane) {
            out.setRealNumberNotation(QTextStream::FixedNotation);
            out.setRealNumberPrecision(form.precision);
            // Lines run along the table's first index when its order is
            // reversed, a stride of a whole plane between entries: a miss in
            // the cache and the page tables at each value of a large table.
            // The block's entries are gathered in line order first, reading
            // the table front to back.
            const qint64 planeEntries = qint64(n) * n;
            // The block's text and its gathered entries are large blocks
            // (LutMemory): a few huge pages, reused from one block to the
            // next, where growing them from the heap would fault in every
            // fresh page. The text's room is for lines of the usual length
            // (a few digits before the point); longer ones grow it.
            const qint64 usualLine = 3 * (form.precision + 4 + form.separator.size()) + 1;
            out.reserve(int(qMin<qint64>((endPlane - firstPlane) * planeEntries * usualLine, INT_MAX / 2)));
            std::vector<float, LutMemory::Allocator<float>> gathered;
            if (!form.tableOrderRGB) {
                const int planes = endPlane - firstPlane;
                gathered.resize(size_t(planes * planeEntries * 3));
                for (int k = 0; k < n; ++k) {
                    for (int j = 0; j < n; ++j) {
                        const float *from = table[k][j][firstPlane];
                        float *to = gathered.data() + 3 * (j * qint64(n) + k);
                        for (int i = 0; i < planes; ++i, from += 3, to += 3 * planeEntries)
                            std::memcpy(to, from, 3 * sizeof(float));
                    }
                }
            }
            qint64 entry = qint64(firstPlane) * planeEntries;
            const float *next = gathered.data();
            for (int i = firstPlane; i < endPlane; ++i) {
                for (int j = 0; j < n; ++j) {
                    for (int k = 0; k < n; ++k) {
                        if (linePrefix)
                            linePrefix(out, i, j, k, entry++);
                        char *line = out.reserve(form.room() + 1);
                        char *end = line;
                        if (form.tableOrderRGB) {
                            end = form.append(line, table, i, j, k);
                        } else {
                            end = form.append(line, next);
                            next += 3;
                        }
                        *end++ = '\n';
                        out.commit(end);
                    }
                }
            }
        };
        // Several planes a block when the table is gathered, so that each
        // cache line read holds entries of the block only.
        const qint64 blockLines = form.tableOrderRGB ? kLinesPerBlock : 4 * kLinesPerBlock;
        const int planesPerBlock = int(qMax<qint64>(1, blockLines / (qint64(n) * n)));
        const int blocks = (n + planesPerBlock - 1) / planesPerBlock;
        LutParallel::orderedBlocks(
            blocks,
            [&](int b, LutTextStream &block) {
                writePlanes(block, b * planesPerBlock, qMin(n, (b + 1) * planesPerBlock));
            },
            [&](const LutTextStream &block) { stream.write(block.data(), block.size()); });
        if (footer)
            footer(stream);
    });
}

bool Write_LUTFile::writeTable3DFile(const QString &fileName, const Read_LUTFile *lut, LutFormatId formatId,
                                     const std::function<void(LutTextStream &)> &write)
{
    return writeTableFile(this, fileName, lut->size3D <= 0 || lut->table3D.size() == lut->size3D, "3D", formatId,
                          write);
}

bool Write_LUTFile::writeTable1DFile(const QString &fileName, const Read_LUTFile *lut, LutFormatId formatId,
                                     const std::function<void(LutTextStream &)> &write)
{
    return writeTableFile(this, fileName, lut->size1D <= 0 || lut->table1D.size() == lut->size1D, "1D", formatId,
                          write);
}

bool Write_LUTFile::fail(const QString &reason)
{
    errorString = reason;
    return false;
}

namespace {

inline void writeReal(LutTextStream &stream, float value, int width)
{
    char *out = stream.reserve(valueRoom(stream.realNumberPrecision()) + width);
    stream.commit(appendReal(out, value, stream.realNumberNotation(), stream.realNumberPrecision(), width));
}

inline void writeCode(LutTextStream &stream, int scale, float value)
{
    char *out = stream.reserve(24);
    stream.commit(appendCode(out, scale, value));
}

inline void writeSeparator(LutTextStream &stream, const SeparatorBytes &separator)
{
    stream.append(separator.data(), separator.size());
}

} // namespace

void Write_LUTFile::writeLut3DEntry(const LutTable3D &table, LutTextStream &stream, int p, int q, int r,
                                    int scale, const QString &separator)
{
    stream.setRealNumberNotation(QTextStream::FixedNotation);
    const EntryForm3D form(*this, scale, separator, stream.realNumberPrecision());
    stream.commit(form.append(stream.reserve(form.room()), table, p, q, r));
}

void Write_LUTFile::writeLut3DEntryPrecise(const LutTable3D &table, LutTextStream &stream, int p, int q, int r,
                                           const QString &separator)
{
    const float *entry = entry3D(table, p, q, r);
    const int first = dataOrderRGB ? 0 : 2;
    const SeparatorBytes bytes(separator);
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            writeSeparator(stream, bytes);
        writeReal(stream, entry[i == 1 ? 1 : i == 0 ? first : 2 - first], 0);
    }
}

void Write_LUTFile::writeLut3DEntryHex(const LutTable3D &table, LutTextStream &stream, int p, int q, int r)
{
    static const char digits[] = "0123456789abcdef";
    const float *entry = entry3D(table, p, q, r);
    const int first = dataOrderRGB ? 0 : 2;
    char *out = stream.reserve(24);
    for (int i = 0; i < 3; ++i) {
        quint32 bits;
        std::memcpy(&bits, &entry[i == 1 ? 1 : i == 0 ? first : 2 - first], sizeof bits);
        for (int byte = 0; byte < 4; ++byte, bits >>= 8) {
            *out++ = digits[(bits >> 4) & 0xf];
            *out++ = digits[bits & 0xf];
        }
    }
    stream.commit(out);
}

void Write_LUTFile::writeLut1DEntry(const LutTable1D &table, LutTextStream &stream, int n, int scale,
                                    const QString &separator)
{
    const float *entry = table[n];
    const int first = reversed1D() ? 2 : 0;
    const int step = reversed1D() ? -1 : 1;
    const SeparatorBytes bytes(separator);
    for (int i = 0; i < 3; ++i) {
        if (scale >= 2)
            writeCode(stream, scale, entry[first + step * i]);
        else
            writeReal(stream, entry[first + step * i], 0);
        writeSeparator(stream, bytes);
    }
}

void Write_LUTFile::writeLut1DValue(const LutTable1D &table, LutTextStream &stream, int n, int scale,
                                    const QString &separator, int channel)
{
    if (scale >= 2)
        writeCode(stream, scale, table[n][channel]);
    else
        writeReal(stream, table[n][channel], 0);
    if (!separator.isEmpty())
        writeSeparator(stream, SeparatorBytes(separator));
}

bool Write_LUTFile::frontWritable(const Read_LUTFile &lut, bool for3D)
{
    if (lut.bakeRead)
        return true;
    const auto unit = [](const float lo[3], const float hi[3]) {
        return lo[0] == 0.0f && lo[1] == 0.0f && lo[2] == 0.0f && hi[0] == 1.0f && hi[1] == 1.0f && hi[2] == 1.0f;
    };
    const LutMeaning &meaning = lut.meaning;
    // The plain reading of a csp file divides the table by the range of its
    // pre-LUT's outputs: a shaper must map onto the whole table.
    for (const LutCurve &shaper : meaning.shaper) {
        if (!shaper.isEmpty() && !(std::fabs(shaper.y.front()) <= 1e-6 && std::fabs(shaper.y.back() - 1.0) <= 1e-6))
            return false;
    }
    const bool unit1D = unit(lut.domainMin1D, lut.domainMax1D) && meaning.inputSpan1DIsUnit();
    if (!for3D)
        return unit1D;
    const bool table1DInFront = meaning.table1DFeeds3D && lut.size1D >= 1 && lut.table1D.size() == lut.size1D;
    return unit(lut.domainMin3D, lut.domainMax3D) && meaning.inputSpan3DIsUnit() && (!table1DInFront || unit1D);
}

QString Write_LUTFile::frontCurves(const Read_LUTFile &lut, bool for3D, LutCurve curves[3])
{
    if (!frontWritable(lut, for3D)) {
        for (int c = 0; c < 3; ++c) {
            curves[c] = LutCurve();
            curves[c].x = {0.0, 1.0};
            curves[c].y = {0.0, 1.0};
        }
        return QString();
    }
    const LutMeaning &meaning = lut.meaning;
    const int n1D = lut.size1D >= 1 && lut.table1D.size() == lut.size1D ? lut.size1D : 0;
    const bool table1DInFront = for3D && meaning.table1DFeeds3D && n1D > 0;
    // A span that does not rise (the plain reading checks none of them)
    // stands for the unit span.
    const auto span = [](double lo, double hi, double *from, double *to) {
        const bool usable = hi > lo && std::isfinite(hi - lo);
        *from = usable ? lo : 0.0;
        *to = usable ? hi : 1.0;
    };
    for (int c = 0; c < 3; ++c) {
        LutCurve &curve = curves[c];
        const LutCurve &shaper = meaning.shaper[c];
        if (!shaper.isEmpty()) {
            const QString problem = shaper.problem();
            if (!problem.isEmpty())
                return QStringLiteral("the %1 of channel %2: %3")
                    .arg(meaning.shaperName.isEmpty() ? QStringLiteral("shaper") : meaning.shaperName)
                    .arg(c)
                    .arg(problem);
        }
        // The 1D table in front of the cube, as a curve over its span.
        LutCurve table1D;
        if (table1DInFront) {
            double lo, hi;
            span(meaning.inputMin1D[c], meaning.inputMax1D[c], &lo, &hi);
            const int knots = std::max(n1D, 2);
            for (int i = 0; i < knots; ++i) {
                table1D.x.push_back(lo + (hi - lo) * i / (knots - 1));
                table1D.y.push_back(lut.table1D[std::min(i, n1D - 1)][c]);
            }
        }
        double lo, hi;
        if (for3D)
            span(meaning.inputMin3D[c], meaning.inputMax3D[c], &lo, &hi);
        else
            span(meaning.inputMin1D[c], meaning.inputMax1D[c], &lo, &hi);
        if (!shaper.isEmpty()) {
            curve = shaper;
            if (table1DInFront) {
                for (double &y : curve.y)
                    y = table1D.evaluate(y);
            }
        } else if (table1DInFront) {
            curve = table1D;
        } else {
            curve = LutCurve();
            curve.x = {lo, hi};
            curve.y = {lo, hi};
        }
        // Onto the table's input: its span becomes 0..1.
        for (double &y : curve.y)
            y = (y - lo) / (hi - lo);
    }
    return QString();
}
