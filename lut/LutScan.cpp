#include "lut/LutScan.h"

#include <QVarLengthArray>
#include <QtEndian>

#include <charconv>
#include <climits>
#include <cmath>
#include <limits>

namespace LutScan {

namespace {

// The blanks of isspace in the "C" locale: space, \t, \n, \v, \f and \r.
// Every other character above the space is told apart by one comparison.
inline bool isBlank(char c)
{
    return static_cast<unsigned char>(c) <= ' ' && (c == ' ' || unsigned(c - '\t') <= unsigned('\r' - '\t'));
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
inline bool parseInteger(const char *&p, const char *end, long long &value)
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
    // Eighteen digits never overflow; only longer numbers are checked.
    const char *plain = q + (end - q < 18 ? end - q : 18);
    for (; q < plain && isDigit(*q); ++q)
        magnitude = magnitude * 10 + unsigned(*q - '0');
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

// Eight bytes from s as a little-endian word, first byte lowest; bytes at
// or beyond end read as 0 (which is no digit). Nothing outside [begin, end)
// is read: near the end the word is loaded from end - 8 and shifted down.
inline quint64 loadWord(const char *s, const char *begin, const char *end)
{
    const std::ptrdiff_t left = end - s;
    if (left >= 8)
        return qFromLittleEndian<quint64>(s);
    if (left <= 0)
        return 0;
    if (end - begin >= 8)
        return qFromLittleEndian<quint64>(end - 8) >> (8 * (8 - left));
    quint64 word = 0;
    for (std::ptrdiff_t i = 0; i < left; ++i)
        word |= quint64(static_cast<unsigned char>(s[i])) << (8 * i);
    return word;
}

// 0x80 in each byte of the word that is not a decimal digit, 0 in the others.
inline quint64 nonDigitBytes(quint64 word)
{
    constexpr quint64 kHigh = 0x8080808080808080ULL;
    const quint64 low = word & ~kHigh;
    // Per byte, without carries between bytes: at least '0', above '9'.
    const quint64 atLeastZero = (low + 0x5050505050505050ULL) & kHigh;
    const quint64 aboveNine = (low + 0x4646464646464646ULL) & kHigh;
    return (word & kHigh) | (~atLeastZero & kHigh) | aboveNine;
}

// The index of the first byte flagged in a non-zero mask of nonDigitBytes.
inline int firstFlagged(quint64 mask)
{
#if defined(__GNUC__)
    return __builtin_ctzll(mask) / 8;
#else
    int index = 0;
    while (!(mask & (quint64(0x80) << (8 * index))))
        ++index;
    return index;
#endif
}

// How many of the word's bytes, from the first, are decimal digits (0..8).
inline int digitRun(quint64 word)
{
    const quint64 notDigit = nonDigitBytes(word);
    return notDigit == 0 ? 8 : firstFlagged(notDigit);
}

// The bytes below byte k of a word (k = 0..8).
inline quint64 bytesBelow(int k)
{
    static const quint64 masks[] = {0,
                                    0xFFULL,
                                    0xFFFFULL,
                                    0xFFFFFFULL,
                                    0xFFFFFFFFULL,
                                    0xFFFFFFFFFFULL,
                                    0xFFFFFFFFFFFFULL,
                                    0xFFFFFFFFFFFFFFULL,
                                    ~0ULL};
    return masks[k];
}

// The value of the first run (1..8) digits of the word, first digit most
// significant: eight digits at once in a few multiplications.
inline quint64 digitsValue(quint64 word, int run)
{
    // Digits sit in the low bytes; a byte below '0' above them may borrow
    // from the bytes above it only, which the shift drops.
    word = (word - 0x3030303030303030ULL) << (8 * (8 - run));
    word = word * 10 + (word >> 8);
    return (((word & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32)))
            + (((word >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32))))
        >> 32;
}

const quint64 kPowersOfTen[] = {1ULL, 10ULL, 100ULL, 1000ULL, 10000ULL, 100000ULL, 1000000ULL, 10000000ULL,
                                100000000ULL};

// The plain decimals of at most eight characters ("0.850000", "1", ".25",
// "123.5"), which is what most LUT files are made of, read from one word:
// the point is taken out, the digits are converted at once and divided by
// the power of ten of the decimals. The result is the one parsePlainDecimal
// gives; false for anything else.
template <typename T>
Q_ALWAYS_INLINE bool parseShortDecimal(const char *q, const char *begin, const char *end, T &value, const char *&stop)
{
    static const T powersOfTen[] = {T(1e0), T(1e1), T(1e2), T(1e3), T(1e4), T(1e5), T(1e6), T(1e7)};
    const quint64 word = loadWord(q, begin, end);
    const quint64 notDigit = nonDigitBytes(word);
    if (notDigit == 0)
        return false; // eight digits or more
    const int point = firstFlagged(notDigit);
    int length;
    int decimals;
    quint64 digits;
    if (((word >> (8 * point)) & 0xFF) == '.') {
        const quint64 after = notDigit & ~bytesBelow(point + 1);
        length = after ? firstFlagged(after) : 8;
        if (length == 1)
            return false; // a point alone
        decimals = length - 1 - point;
        // The digits before the point move up over it; a zero digit takes
        // the first byte, which leaves the value as it is.
        digits = ((word & bytesBelow(point)) << 8) | (word & bytesBelow(length) & ~bytesBelow(point + 1)) | '0';
    } else {
        if (point == 0)
            return false;
        length = point;
        decimals = 0;
        digits = word;
    }
    // More digits, an exponent or a hexadecimal prefix continue the number.
    const char next = length < 8 ? char(word >> (8 * length)) : q + 8 < end ? q[8] : '\0';
    if (isDigit(next) || (next | 0x20) == 'e' || (next | 0x20) == 'x')
        return false;
    // At most seven digits: T holds them exactly, and 10^decimals as well.
    value = T(digitsValue(digits, length)) / powersOfTen[decimals];
    stop = q + length;
    return true;
}

// The fast path for the plain decimals LUT files are made of ("0.850000",
// "12", ".5"): digits with at most one point, no exponent. When the digits
// form an integer m that T holds exactly and k of them follow the point,
// with 10^k exact in T as well, m / 10^k is one correctly rounded division:
// the same value the general conversion gives. Anything else returns false
// and takes the general path. The digits after the point are gathered eight
// at a time.
template <typename T>
Q_NEVER_INLINE bool parsePlainDecimal(const char *q, const char *begin, const char *end, T &value, const char *&stop)
{
    static const double powersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    // More than 19 digits (which a 64-bit integer always holds) take the
    // general path; the sum may wrap before that is known, harmlessly.
    unsigned long long mantissa = 0;
    const char *s = q;
    for (; s < end; ++s) {
        const unsigned d = unsigned(static_cast<unsigned char>(*s)) - unsigned('0');
        if (d > 9)
            break;
        mantissa = mantissa * 10 + d;
    }
    std::ptrdiff_t digits = s - q;
    std::ptrdiff_t decimals = 0;
    if (s < end && *s == '.') {
        const char *first = ++s;
        const quint64 word = loadWord(s, begin, end);
        const int run = digitRun(word);
        if (run > 0) {
            mantissa = mantissa * kPowersOfTen[run] + digitsValue(word, run);
            s += run;
            for (; run == 8 && s < end; ++s) {
                const unsigned d = unsigned(static_cast<unsigned char>(*s)) - unsigned('0');
                if (d > 9)
                    break;
                mantissa = mantissa * 10 + d;
            }
        }
        decimals = s - first;
        digits += decimals;
    }
    if (digits == 0 || digits > 19 || mantissa > PlainDecimalLimits<T>::maxMantissa
        || decimals > PlainDecimalLimits<T>::maxDecimals)
        return false;
    // An exponent or a hexadecimal prefix continues the number.
    if (s < end && ((*s | 0x20) == 'e' || (*s | 0x20) == 'x'))
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
Q_NEVER_INLINE bool parseReal(const char *&p, const char *begin, const char *end, T &value)
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
        if (parsePlainDecimal(q, begin, end, plain, stop)) {
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

// parseReal with the plain decimals of LUT files handled in line.
template <typename T>
Q_ALWAYS_INLINE bool parseRealFast(const char *&p, const char *begin, const char *end, T &value)
{
    const char *q = p;
    const bool negative = q < end && *q == '-';
    if (q < end && (*q == '-' || *q == '+'))
        ++q;
    T plain;
    const char *stop;
    if (parseShortDecimal(q, begin, end, plain, stop) || parsePlainDecimal(q, begin, end, plain, stop)) {
        value = negative ? -plain : plain;
        p = stop;
        return true;
    }
    return parseReal(p, begin, end, value);
}

// The commonest number of data lines, "d.dddddd" (one digit, six decimals)
// before a blank or the end, checked and converted in one word. The value
// is the one parseShortDecimal gives: the seven digits over 10^6.
Q_ALWAYS_INLINE bool parseSixDecimals(const char *q, const char *end, float &value)
{
    if (end - q < 8)
        return false;
    const quint64 word = qFromLittleEndian<quint64>(q);
    if (((word >> 8) & 0xFF) != '.' || (end - q > 8 && !isBlank(q[8])))
        return false;
    // The digit before the point and the six after it, in the low seven bytes.
    const quint64 digits = (word & 0xFF) | ((word >> 8) & 0x00FFFFFFFFFFFF00ULL);
    if (nonDigitBytes(digits | 0x3000000000000000ULL) != 0)
        return false;
    value = float(digitsValue(digits, 7)) / 1e6f;
    return true;
}

} // namespace

namespace {

// Whether the pattern is conversions separated by single blanks ("%f %f
// %f", "%d %d %d %f %f %f", "%lf %lf"), one per target of the matching
// type: the data lines of most formats, which readFieldList reads.
bool isFieldList(const char *pattern, std::initializer_list<Target> targets)
{
    const char *f = pattern;
    for (const Target &target : targets) {
        if (f != pattern && *f++ != ' ')
            return false;
        if (*f++ != '%')
            return false;
        const bool isLong = *f == 'l';
        f += isLong;
        const char type = *f++;
        const Target::Kind kind = type == 'd' ? (isLong ? Target::Long : Target::Int)
            : type == 'f'                     ? (isLong ? Target::Double : Target::Float)
                                              : Target::Kind(-1);
        if (kind != target.kind)
            return false;
    }
    return *f == '\0';
}

// scan() for a field list: each conversion skips the blanks before it (the
// blank in the pattern matches the same run), as the general loop does.
int readFieldList(const char *text, const char *end, std::initializer_list<Target> targets)
{
    const char *p = text;
    int converted = 0;
    for (const Target &target : targets) {
        while (p < end && isBlank(*p))
            ++p;
        bool ok;
        if (target.kind == Target::Float) {
            ok = parseRealFast(p, text, end, *static_cast<float *>(target.ptr));
        } else if (target.kind == Target::Double) {
            ok = parseRealFast(p, text, end, *static_cast<double *>(target.ptr));
        } else {
            long long v = 0;
            ok = parseInteger(p, end, v);
            if (ok && target.kind == Target::Long)
                *static_cast<long long *>(target.ptr) = v;
            else if (ok)
                *static_cast<int *>(target.ptr) = int(v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : v);
        }
        if (!ok)
            break;
        ++converted;
    }
    return converted;
}

} // namespace

int scan(const char *text, int length, const char *pattern, std::initializer_list<Target> targets)
{
    const char *p = text;
    const char *end = text + (length > 0 ? length : 0);
    if (isFieldList(pattern, targets))
        return readFieldList(text, end, targets);
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
            ok = parseRealFast(p, text, end, *static_cast<double *>(target->ptr));
        } else if (!isLong && target->kind == Target::Float) {
            ok = parseRealFast(p, text, end, *static_cast<float *>(target->ptr));
        }
        if (!ok)
            return converted;
        ++converted;
        ++target;
    }
    return converted;
}

namespace {

// The fields that start in [p, end): a field starts at each non-blank that
// follows a blank, and at p itself when startsAfterBlank says what precedes
// p is one (or nothing). Eight characters at a time: a flag (0x80) per blank byte, compared
// with the flags of the bytes before.
int fieldStarts(const char *p, const char *end, bool startsAfterBlank)
{
    constexpr quint64 kHigh = 0x8080808080808080ULL;
    constexpr quint64 kLow = ~kHigh;
    int count = 0;
    quint64 blankBefore = startsAfterBlank ? 0x80 : 0;
    for (; end - p >= 8; p += 8) {
        const quint64 word = qFromLittleEndian<quint64>(p);
        const quint64 low = word & kLow;
        // A space: the byte equals 0x20. \t..\r: 0x09 <= byte <= 0x0D. Neither has the top bit.
        const quint64 space = ~(((low ^ 0x2020202020202020ULL) + kLow) | (word ^ 0x2020202020202020ULL)) & kHigh;
        const quint64 control = (low + 0x7777777777777777ULL) & ~(low + 0x7272727272727272ULL) & ~word & kHigh;
        const quint64 blank = space | control;
        const quint64 starts = ~blank & kHigh & ((blank << 8) | blankBefore);
        // One bit per byte: the multiplication sums them in the top byte.
        count += int(((starts >> 7) * 0x0101010101010101ULL) >> 56);
        blankBefore = blank >> 56;
    }
    bool previousBlank = blankBefore != 0;
    for (; p < end; ++p) {
        const bool blank = isBlank(*p);
        if (previousBlank && !blank)
            ++count;
        previousBlank = blank;
    }
    return count;
}

} // namespace

int fieldCount(const QByteArray &line)
{
    return fieldStarts(line.constData(), line.constData() + line.size(), true);
}

int floatFields(const char *text, int length, float *values, int count, int *fields)
{
    const char *p = text;
    const char *end = text + (length > 0 ? length : 0);
    int converted = 0;
    // Whether each number after the first came after blanks: then each began
    // a field of its own, and what follows the last one tells the rest.
    bool apart = true;
    for (; converted < count; ++converted) {
        const char *before = p;
        while (p < end && isBlank(*p))
            ++p;
        apart = apart && (converted == 0 || p != before);
        const bool negative = p < end && *p == '-';
        if (parseSixDecimals(p + negative, end, values[converted])) {
            if (negative)
                values[converted] = -values[converted];
            p += 8 + negative;
            continue;
        }
        if (!parseRealFast(p, text, end, values[converted]))
            break;
    }
    *fields = converted == count && apart ? count + fieldStarts(p, end, false) : fieldStarts(text, end, true);
    return converted;
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
