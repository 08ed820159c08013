#pragma once

#include <QByteArray>
#include <QString>

#include <initializer_list>

// The one number scanner behind every reader.
//
// scan() converts text the way sscanf does with the patterns LUT readers use
// ("%f %f %f", "%d", "%lf", "%d %d", "%d,\t%d ", ...) and returns the number
// of fields converted. Like sscanf it skips leading blanks before a number,
// accepts signs, exponents, "inf"/"infinity"/"nan" and hexadecimal floats,
// stops at the first field that does not convert and leaves that target and
// every later one untouched. A blank in the pattern matches any run of white
// space (or none); any other character must match itself.
//
// Unlike sscanf it never looks at the process locale: a decimal point is
// always ".", so "0.5" reads as 0.5 under a German or French locale too.
// It returns 0 (never EOF) when nothing converts.
namespace LutScan {

// One conversion target; the pattern's directive must match its type:
// %d int, %ld long long, %f float, %lf double.
class Target
{
public:
    enum Kind { Int, Long, Float, Double };
    Target(int *p) : kind(Int), ptr(p) {}
    Target(long long *p) : kind(Long), ptr(p) {}
    Target(float *p) : kind(Float), ptr(p) {}
    Target(double *p) : kind(Double), ptr(p) {}
    Kind kind;
    void *ptr;
};

int scan(const char *text, int length, const char *pattern, std::initializer_list<Target> targets);

template <typename... T>
int scan(const QByteArray &text, const char *pattern, T *...targets)
{
    return scan(text.constData(), text.size(), pattern, {Target(targets)...});
}

// Numbers are ASCII, so a QString is narrowed to Latin-1 (other characters
// become "?", which no number contains) without a heap allocation for
// ordinary line lengths.
int scanString(const QString &text, const char *pattern, std::initializer_list<Target> targets);

template <typename... T>
int scan(const QString &text, const char *pattern, T *...targets)
{
    return scanString(text, pattern, {Target(targets)...});
}

// The number of fields of a line split at runs of white space.
int fieldCount(const QByteArray &line);

// A data line of count real numbers in one pass: returns what
// scan(text, "%f %f ...") with count conversions returns, with the values
// as it stores them, and sets *fields to the line's fieldCount.
int floatFields(const char *text, int length, float *values, int count, int *fields);

} // namespace LutScan

// Decodes the first eight characters of text as four two-digit hexadecimal
// bytes, first pair first ("00ff7FAb" gives 0, 255, 127, 171). Returns false,
// leaving bytes unchanged, when any of the eight is not a hexadecimal digit
// (the end of a shorter string included). Characters after the eighth are
// not looked at.
bool hexToBytes(unsigned char bytes[4], const char *text);
