#include "lut/Write_LUTFile.h"

#include "lut/LutFormats.h"
#include "lut/LutTextOutput.h"
#include "lut/Read_LUTFile.h"

#include <QLatin1String>

#include <charconv>
#include <cmath>
#include <cstring>

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

    const LutFormat *format = LutFormats::byId(options.format);
    if (!format)
        return fail(QStringLiteral("unknown format identifier %1").arg(options.format));
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

void Write_LUTFile::applyDefaultOrder(int formatId)
{
    if (!defaultOrder)
        return;
    const LutFormat *format = LutFormats::byId(formatId);
    if (format && format->writerForcesOrder) {
        dataOrderRGB = format->writeDataRGB;
        tableOrderRGB = format->writeTableRGB;
    }
}

namespace {

// Opens fileName, runs write on its stream and puts the file in place.
bool writeTextFile(Write_LUTFile *writer, const QString &fileName, const std::function<void(QTextStream &)> &write)
{
    LutTextOutput out(fileName);
    if (!out.open())
        return writer->fail(QStringLiteral("cannot open for writing: %1").arg(out.errorString()));
    write(out.stream());
    if (!out.commit())
        return writer->fail(QStringLiteral("write failed: %1").arg(out.errorString()));
    return true;
}

// The file path behind writeTable3DFile and writeTable1DFile.
bool writeTableFile(Write_LUTFile *writer, const QString &fileName, bool holdsTable, const char *dimension,
                    int formatId, const std::function<void(QTextStream &)> &write)
{
    if (!holdsTable)
        return writer->fail(QStringLiteral("the LUT holds no %1 table to write").arg(QLatin1String(dimension)));
    return writeTextFile(writer, fileName, [&](QTextStream &stream) {
        writer->applyDefaultOrder(formatId);
        write(stream);
    });
}

} // namespace

bool Write_LUTFile::writeCubeFile(const QString &fileName, const Read_LUTFile *lut, int formatId,
                                  const std::function<void(QTextStream &)> &header, const QString &separator,
                                  int scale, const LinePrefix &linePrefix)
{
    return writeTable3DFile(fileName, lut, formatId, [&](QTextStream &stream) {
        header(stream);
        const int n = lut->size3D;
        qint64 entry = 0;
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                for (int k = 0; k < n; ++k) {
                    if (linePrefix)
                        linePrefix(stream, i, j, k, entry++);
                    writeLut3DEntry(lut->table3D, stream, i, j, k, scale, separator);
                    stream << '\n';
                }
            }
        }
    });
}

bool Write_LUTFile::writeTable3DFile(const QString &fileName, const Read_LUTFile *lut, int formatId,
                                     const std::function<void(QTextStream &)> &write)
{
    return writeTableFile(this, fileName, lut->size3D <= 0 || lut->table3D.size() == lut->size3D, "3D", formatId,
                          write);
}

bool Write_LUTFile::writeTable1DFile(const QString &fileName, const Read_LUTFile *lut, int formatId,
                                     const std::function<void(QTextStream &)> &write)
{
    return writeTableFile(this, fileName, lut->size1D <= 0 || lut->table1D.size() == lut->size1D, "1D", formatId,
                          write);
}

bool Write_LUTFile::fail(const QString &reason)
{
    errorString = reason;
    return false;
}

int formatLutReal(char *buffer, int capacity, double v, QTextStream::RealNumberNotation notation,
                  int precision)
{
    const std::chars_format format =
        notation == QTextStream::FixedNotation ? std::chars_format::fixed
        : notation == QTextStream::ScientificNotation ? std::chars_format::scientific
                                                        : std::chars_format::general;
    // Non-finite values print as printf prints them.
    if (std::isnan(v)) {
        const char *text = std::signbit(v) ? "-nan" : "nan";
        const int n = int(std::strlen(text));
        std::memcpy(buffer, text, size_t(n));
        return n;
    }
    if (std::isinf(v)) {
        const char *text = v < 0 ? "-inf" : "inf";
        const int n = int(std::strlen(text));
        std::memcpy(buffer, text, size_t(n));
        return n;
    }
    const std::to_chars_result result = std::to_chars(buffer, buffer + capacity, v, format, precision);
    if (result.ec != std::errc())
        return 0;
    return int(result.ptr - buffer);
}

namespace {

// Appends the integer code of value (lutCode).
inline int appendInteger(char *out, int scale, float value)
{
    const std::to_chars_result result = std::to_chars(out, out + 24, lutCode(double(value), scale));
    return int(result.ptr - out);
}

// "%.6f" of a float, the form of every 3D entry. A float has 24 significant
// bits and 10^6 needs 14 beyond its factor 2^6, so value x 10^6 is exact in a
// double; rounding it to an integer (ties to even, as printf rounds the exact
// binary value) gives printf's digits without a general conversion. Returns
// 0 when the value is too large for this path.
int formatFixed6(char *buffer, float value)
{
    const double scaled = double(value) * 1e6;
    if (!(std::fabs(scaled) < 9.0e15))
        return 0;
    const unsigned long long units = (unsigned long long)std::fabs(std::nearbyint(scaled));
    char *p = buffer;
    if (std::signbit(value))
        *p++ = '-';
    p = std::to_chars(p, p + 24, units / 1000000).ptr;
    *p++ = '.';
    unsigned long long fraction = units % 1000000;
    for (int i = 5; i >= 0; --i) {
        p[i] = char('0' + fraction % 10);
        fraction /= 10;
    }
    return int(p + 6 - buffer);
}

inline void writeReal(QTextStream &stream, float value, int width)
{
    char buffer[96];
    int n = 0;
    if (stream.realNumberNotation() == QTextStream::FixedNotation && stream.realNumberPrecision() == 6)
        n = formatFixed6(buffer, value);
    if (n == 0)
        n = formatLutReal(buffer, 64, double(value), stream.realNumberNotation(), stream.realNumberPrecision());
    if (n >= 0 && n < width && width <= 32) {
        // Right-aligned in the field, padded with blanks.
        std::memmove(buffer + (width - n), buffer, size_t(n));
        std::memset(buffer, ' ', size_t(width - n));
        n = width;
    }
    stream << QLatin1String(buffer, n);
}

inline void writeInteger(QTextStream &stream, int scale, float value)
{
    char buffer[32];
    const int n = appendInteger(buffer, scale, value);
    stream << QLatin1String(buffer, n);
}

} // namespace

void Write_LUTFile::writeLut3DEntry(const LutTable3D &table, QTextStream &stream, int p, int q, int r,
                                    int scale, const QString &separator)
{
    stream.setRealNumberNotation(QTextStream::FixedNotation);
    const float *entry = entry3D(table, p, q, r);
    const int first = dataOrderRGB ? 0 : 2;
    const int step = dataOrderRGB ? 1 : -1;
    if (scale >= 2) {
        for (int i = 0; i < 3; ++i) {
            writeInteger(stream, scale, entry[first + step * i]);
            stream << separator;
        }
        return;
    }
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            stream << separator;
        writeReal(stream, entry[first + step * i], 8);
    }
}

void Write_LUTFile::writeLut3DEntryPrecise(const LutTable3D &table, QTextStream &stream, int p, int q, int r,
                                           const QString &separator)
{
    const float *entry = entry3D(table, p, q, r);
    const int first = dataOrderRGB ? 0 : 2;
    const int step = dataOrderRGB ? 1 : -1;
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            stream << separator;
        writeReal(stream, entry[first + step * i], 0);
    }
}

void Write_LUTFile::writeLut1DEntry(const LutTable1D &table, QTextStream &stream, int n, int scale,
                                    const QString &separator)
{
    const float *entry = table[n];
    const int first = reversed1D() ? 2 : 0;
    const int step = reversed1D() ? -1 : 1;
    for (int i = 0; i < 3; ++i) {
        if (scale >= 2)
            writeInteger(stream, scale, entry[first + step * i]);
        else
            writeReal(stream, entry[first + step * i], 0);
        stream << separator;
    }
}

void Write_LUTFile::writeLut1DValue(const LutTable1D &table, QTextStream &stream, int n, int scale,
                                    const QString &separator, int channel)
{
    if (scale >= 2)
        writeInteger(stream, scale, table[n][channel]);
    else
        writeReal(stream, table[n][channel], 0);
    stream << separator;
}
