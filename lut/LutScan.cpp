#include "lut/LutScan.h"

#include <QVarLengthArray>

#include <charconv>
#include <climits>
#include <cmath>
#include <limits>

namespace LutScan {

namespace {

// The blanks of isspace in the "C" locale: space, \t, \n, \v, \f and \r.
bool isBlank(char c)
{
    return c == ' ' || unsigned(c - '\t') <= unsigned('\r' - '\t');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Parses an optionally signed decimal integer at p; saturates on overflow.
bool parseInteger(const char *&p, const char *end, long long &value)
{
    const char *q = p;
    bool negative = false;
    if (q < end && (*q == '+' || *q == '-')) {
        negative = *q == '-';
        ++q;
    }
    if (q >= end || !isDigit(*q))
        return false;
    unsigned long long magnitude = 0;
    bool overflow = false;
    for (; q < end && isDigit(*q); ++q) {
        const unsigned digit = unsigned(*q - '0');
        if (magnitude > (ULLONG_MAX - digit) / 10)
            overflow = true;
        else
            magnitude = magnitude * 10 + digit;
    }
    const unsigned long long limit = negative ? (unsigned long long)LLONG_MAX + 1 : LLONG_MAX;
    if (overflow || magnitude > limit)
        magnitude = limit;
    value = negative ? (long long)(0ULL - magnitude) : (long long)magnitude;
    p = q;
    return true;
}

// The largest integer mantissa and the largest count of decimals for which
// T holds both the mantissa and the power of ten exactly.
template <typename T>
struct PlainDecimalLimits;
template <>
struct PlainDecimalLimits<float>
{
    static constexpr unsigned long long maxMantissa = 1ULL << 24;
    static constexpr int maxDecimals = 10;
};
template <>
struct PlainDecimalLimits<double>
{
    static constexpr unsigned long long maxMantissa = 1ULL << 53;
    static constexpr int maxDecimals = 22;
};

// The fast path for the plain decimals LUT files are made of ("0.850000",
// "12", ".5"): digits with at most one point, no exponent. When the digits
// form an integer m that T holds exactly and k of them follow the point,
// with 10^k exact in T as well, m / 10^k is one correctly rounded division:
// the same value the general conversion gives. Anything else returns false
// and takes the general path.
template <typename T>
bool parsePlainDecimal(const char *q, const char *end, T &value, const char *&stop)
{
    static const double powersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    // At most 19 digits are gathered, which a 64-bit integer always holds.
    unsigned long long mantissa = 0;
    int digits = 0;
    const char *s = q;
    for (; s < end; ++s) {
        const unsigned d = unsigned(*s) - unsigned('0');
        if (d > 9)
            break;
        mantissa = mantissa * 10 + d;
        if (++digits > 19)
            return false;
    }
    int decimals = 0;
    if (s < end && *s == '.') {
        for (++s; s < end; ++s) {
            const unsigned d = unsigned(*s) - unsigned('0');
            if (d > 9)
                break;
            mantissa = mantissa * 10 + d;
            ++decimals;
            if (++digits > 19)
                return false;
        }
    }
    if (digits == 0 || mantissa > PlainDecimalLimits<T>::maxMantissa
        || decimals > PlainDecimalLimits<T>::maxDecimals)
        return false;
    // An exponent or a hexadecimal prefix continues the number.
    if (s < end && (*s == 'e' || *s == 'E' || *s == 'x' || *s == 'X'))
        return false;
    value = T(mantissa) / T(powersOfTen[decimals]);
    stop = s;
    return true;
}

// For a number that T cannot hold (from_chars said out of range): whether
// it is too large rather than too small. Its magnitude is 1 or more exactly
// when the place of its first significant digit (digits before the point,
// or minus the zeros after it) plus its exponent is positive; in hexadecimal
// a digit is four binary places. The exponent is clamped before the sum, so
// no exponent, however long, can overflow it.
bool isBeyondRange(const char *digits, const char *stop, bool hex)
{
    const char marker = hex ? 'p' : 'e';
    long long place = 0;
    bool seenPoint = false;
    bool seenSignificant = false;
    const char *e = digits;
    for (; e < stop && (*e | 0x20) != marker; ++e) {
        if (*e == '.') {
            seenPoint = true;
            continue;
        }
        seenSignificant = seenSignificant || *e != '0';
        if (!seenPoint && seenSignificant)
            ++place;
        else if (seenPoint && !seenSignificant)
            --place;
    }
    long long exponent = 0;
    if (e < stop) {
        const char *x = e + 1;
        parseInteger(x, stop, exponent);
    }
    constexpr long long kExponentBound = 1LL << 62;
    exponent = exponent > kExponentBound ? kExponentBound : exponent < -kExponentBound ? -kExponentBound : exponent;
    return (hex ? 4 * place : place) + exponent > 0;
}

// Parses a real number at p as strtod would, into T (float or double).
// Values beyond the type's range become infinities and values below its
// smallest denormal become zero, as with strtod.
template <typename T>
bool parseReal(const char *&p, const char *end, T &value)
{
    const char *q = p;
    bool negative = false;
    if (q < end && (*q == '+' || *q == '-')) {
        negative = *q == '-';
        ++q;
    }
    if (q >= end)
        return false;
    {
        T plain;
        const char *stop;
        if (parsePlainDecimal(q, end, plain, stop)) {
            value = negative ? -plain : plain;
            p = stop;
            return true;
        }
    }
    // from_chars takes neither a sign nor a hexadecimal prefix; both are
    // handled here so that "+1.5", "-inf" and "0x1p-3" read as sscanf reads them.
    std::chars_format format = std::chars_format::general;
    const char *digits = q;
    if (end - q >= 2 && q[0] == '0' && (q[1] == 'x' || q[1] == 'X')) {
        // sscanf consumes "0x" and then fails when no hexadecimal digit follows.
        if (!((end - q > 2 && isHexDigit(q[2])) || (end - q > 3 && q[2] == '.' && isHexDigit(q[3]))))
            return false;
        format = std::chars_format::hex;
        digits = q + 2;
    }
    if (*digits == '-' || *digits == '+')
        return false;
    T parsed{};
    const std::from_chars_result result = std::from_chars(digits, end, parsed, format);
    if (result.ptr == digits)
        return false;
    if (result.ec == std::errc::result_out_of_range)
        parsed = isBeyondRange(digits, result.ptr, format == std::chars_format::hex) ? std::numeric_limits<T>::infinity()
                                                                                      : T(0);
    const char *stop = result.ptr;
    if (stop - digits == 3 && stop < end && (*stop == 'i' || *stop == 'I')) {
        // "infin" and the like: sscanf reads on towards "infinity" and fails.
        static const char rest[] = "inity";
        int k = 0;
        while (k < 5 && stop + k < end && (stop[k] | 0x20) == rest[k])
            ++k;
        if (k < 5)
            return false;
    }
    if (std::isnan(parsed) && stop - digits > 3) {
        // sscanf reads "nan" alone and leaves a "(chars)" suffix unread.
        stop = digits + 3;
    }
    // An exponent marker without digits ("1e", "1e+") is consumed with the
    // number, as sscanf does, rather than left for the next field.
    const char marker = format == std::chars_format::hex ? 'p' : 'e';
    if (stop < end && (*stop | 0x20) == marker && !(std::isinf(parsed) || std::isnan(parsed))) {
        const char *x = stop + 1;
        if (x < end && (*x == '+' || *x == '-'))
            ++x;
        if (x >= end || !isDigit(*x))
            stop = x;
    }
    value = negative ? -parsed : parsed;
    p = stop;
    return true;
}

} // namespace

int scan(const char *text, int length, const char *pattern, std::initializer_list<Target> targets)
{
    const char *p = text;
    const char *end = text + (length > 0 ? length : 0);
    const Target *target = targets.begin();
    int converted = 0;

    for (const char *f = pattern; *f; ++f) {
        if (isBlank(*f)) {
            while (p < end && isBlank(*p))
                ++p;
            continue;
        }
        if (*f != '%' || f[1] == '%') {
            if (*f == '%')
                ++f;
            if (p >= end || *p != *f)
                return converted;
            ++p;
            continue;
        }
        // A conversion: %d, %ld, %f or %lf. Each skips leading blanks.
        ++f;
        bool isLong = false;
        if (*f == 'l') {
            isLong = true;
            ++f;
        }
        if (target == targets.end() || (*f != 'd' && *f != 'f'))
            return converted;
        while (p < end && isBlank(*p))
            ++p;
        bool ok = false;
        if (*f == 'd') {
            long long v = 0;
            if (!parseInteger(p, end, v))
                return converted;
            if (isLong && target->kind == Target::Long) {
                *static_cast<long long *>(target->ptr) = v;
                ok = true;
            } else if (!isLong && target->kind == Target::Int) {
                *static_cast<int *>(target->ptr) = int(v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : v);
                ok = true;
            }
        } else if (isLong && target->kind == Target::Double) {
            ok = parseReal(p, end, *static_cast<double *>(target->ptr));
        } else if (!isLong && target->kind == Target::Float) {
            ok = parseReal(p, end, *static_cast<float *>(target->ptr));
        }
        if (!ok)
            return converted;
        ++converted;
        ++target;
    }
    return converted;
}

int fieldCount(const QByteArray &line)
{
    int count = 0;
    bool inField = false;
    for (const char c : line) {
        if (isBlank(c)) {
            inField = false;
        } else if (!inField) {
            inField = true;
            ++count;
        }
    }
    return count;
}

int scanString(const QString &text, const char *pattern, std::initializer_list<Target> targets)
{
    QVarLengthArray<char, 256> narrow(text.size());
    const QChar *in = text.constData();
    for (int i = 0; i < text.size(); ++i) {
        const ushort u = in[i].unicode();
        narrow[i] = u < 0x80 ? char(u) : '?';
    }
    return scan(narrow.constData(), narrow.size(), pattern, targets);
}

} // namespace LutScan

bool hexToBytes(unsigned char bytes[4], const char *text)
{
    int values[8];
    for (int i = 0; i < 8; ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9')
            values[i] = c - '0';
        else if (c >= 'A' && c <= 'F')
            values[i] = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            values[i] = c - 'a' + 10;
        else
            return false; // also stops at the terminating NUL of a short string
    }
    for (int k = 0; k < 4; ++k)
        bytes[k] = (unsigned char)(16 * values[2 * k] + values[2 * k + 1]);
    return true;
}
