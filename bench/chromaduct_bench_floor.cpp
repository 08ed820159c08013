// chromaduct-bench-floor: the benchmark's cube job done as directly as this
// machine allows, without Qt and without any of chromaduct-convert's
// generality, so that the benchmark can say how far the real program is
// from the floor. It reads a 3D cube file (LUT_3D_SIZE, 0..1 domain, red
// fastest) through a read-only mapping, parses the entries straight into a
// table in file order, resamples it by tetrahedral interpolation to SIZE
// points, formats six decimals (fixed-point parse and formatting of plain
// decimals), both on every processor, and writes the text with one
// writev() to a temporary file, fdatasync and rename: the same output a
// careful converter has to make. Large buffers are 2 MiB-aligned and marked
// for huge pages, since first touches of 4 KiB pages are what such a job
// mostly pays for on a virtual machine.
//
// Usage: chromaduct-bench-floor IN.cube OUT.cube SIZE
// Exits 0 on success, 1 with a line on standard error otherwise.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <thread>
#include <vector>
#include <sys/mman.h>
#include <sys/uio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kHuge = size_t(2) << 20;

// A buffer of at least bytes, huge-page backed when it is large.
void *hugeBuffer(size_t bytes)
{
    const size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
    void *p = std::aligned_alloc(kHuge, rounded);
    if (p != nullptr && rounded >= kHuge)
        madvise(p, rounded, MADV_HUGEPAGE);
    return p;
}

int refuse(const char *what)
{
    std::fprintf(stderr, "chromaduct-bench-floor: %s\n", what);
    return 1;
}

bool startsWith(const char *p, const char *end, const char *word)
{
    const size_t n = std::strlen(word);
    return size_t(end - p) >= n && std::memcmp(p, word, n) == 0;
}

// A plain decimal ("-0.123456") as a fixed-point integer over a power of
// ten; anything else (an exponent, "nan") through from_chars.
const char *parseNumber(const char *p, const char *end, float *value)
{
    static const double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const char *start = p;
    const bool negative = p < end && *p == '-';
    if (negative)
        ++p;
    unsigned long long digits = 0;
    int count = 0, decimals = 0;
    while (p < end && *p >= '0' && *p <= '9' && count < 15) {
        digits = digits * 10 + unsigned(*p++ - '0');
        ++count;
    }
    if (p < end && *p == '.') {
        ++p;
        while (p < end && *p >= '0' && *p <= '9' && count < 15) {
            digits = digits * 10 + unsigned(*p++ - '0');
            ++count;
            ++decimals;
        }
    }
    if (count == 0 || (p < end && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')) {
        const auto [next, error] = std::from_chars(start, end, *value);
        return error == std::errc() ? next : nullptr;
    }
    const double v = double(digits) / kPowers[decimals];
    *value = float(negative ? -v : v);
    return p;
}

// Six decimals, rounded half away from zero, as "%.6f" prints them for
// values of this kind.
char *writeNumber(char *o, float value)
{
    const double scaled = double(value) * 1e6;
    const bool negative = scaled < 0;
    unsigned long long q = (unsigned long long)((negative ? -scaled : scaled) + 0.5);
    if (negative && q != 0)
        *o++ = '-';
    char digits[24];
    int n = 0;
    do {
        digits[n++] = char('0' + q % 10);
        q /= 10;
    } while (q != 0 || n < 7);
    while (n > 6)
        *o++ = digits[--n];
    *o++ = '.';
    while (n > 0)
        *o++ = digits[--n];
    return o;
}

const char *skipBlanks(const char *p, const char *end)
{
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\r'))
        ++p;
    return p;
}

// Parses the entries of [p, end) into values (at most max); comments and
// keyword lines are passed over. False at a field that is no number.
bool parseRange(const char *p, const char *end, float *values, size_t max, size_t *count)
{
    size_t k = 0;
    while (p < end && k < max) {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n'))
            ++p;
        if (p == end)
            break;
        if (*p == '#' || (*p >= 'A' && *p <= 'Z')) { // a comment or a DOMAIN line
            const char *eol = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
            p = eol == nullptr ? end : eol + 1;
            continue;
        }
        p = parseNumber(p, end, &values[k]);
        if (p == nullptr)
            return false;
        ++k;
    }
    *count = k;
    return true;
}

// The lines of blue slices first .. last - 1 of the output lattice, each
// point interpolated in the n-point table; returns the end of the text.
char *formatSlices(char *o, const float *table, int n, int outN, int first, int last, const int *base, const float *frac)
{
    const size_t strideG = size_t(n) * 3, strideB = size_t(n) * n * 3;
    for (int bi = first; bi < last; ++bi) {
        for (int gi = 0; gi < outN; ++gi) {
            for (int ri = 0; ri < outN; ++ri) {
                const float fr = frac[ri], fg = frac[gi], fb = frac[bi];
                const float *c000 = table + size_t(base[ri]) * 3 + size_t(base[gi]) * strideG + size_t(base[bi]) * strideB;
                const float *c100 = c000 + 3, *c010 = c000 + strideG, *c001 = c000 + strideB;
                const float *c110 = c010 + 3, *c101 = c001 + 3, *c011 = c001 + strideG, *c111 = c011 + 3;
                for (int c = 0; c < 3; ++c) {
                    float v;
                    if (fr > fg) {
                        if (fg > fb)
                            v = c000[c] + fr * (c100[c] - c000[c]) + fg * (c110[c] - c100[c]) + fb * (c111[c] - c110[c]);
                        else if (fr > fb)
                            v = c000[c] + fr * (c100[c] - c000[c]) + fb * (c101[c] - c100[c]) + fg * (c111[c] - c101[c]);
                        else
                            v = c000[c] + fb * (c001[c] - c000[c]) + fr * (c101[c] - c001[c]) + fg * (c111[c] - c101[c]);
                    } else {
                        if (fb > fg)
                            v = c000[c] + fb * (c001[c] - c000[c]) + fg * (c011[c] - c001[c]) + fr * (c111[c] - c011[c]);
                        else if (fb > fr)
                            v = c000[c] + fg * (c010[c] - c000[c]) + fb * (c011[c] - c010[c]) + fr * (c111[c] - c011[c]);
                        else
                            v = c000[c] + fg * (c010[c] - c000[c]) + fr * (c110[c] - c010[c]) + fb * (c111[c] - c110[c]);
                    }
                    o = writeNumber(o, v);
                    *o++ = c < 2 ? ' ' : '\n';
                }
            }
        }
    }
    return o;
}

// Calls body(k) for k = 0 .. parts - 1, body(0) on this thread.
template <typename Body>
void runParts(int parts, const Body &body)
{
    std::vector<std::thread> threads;
    for (int k = 1; k < parts; ++k)
        threads.emplace_back([&body, k] { body(k); });
    body(0);
    for (std::thread &t : threads)
        t.join();
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 4)
        return refuse("usage: chromaduct-bench-floor IN.cube OUT.cube SIZE");
    const int outN = std::atoi(argv[3]);
    if (outN < 2 || outN > 256)
        return refuse("SIZE is 2..256");

    const int fd = open(argv[1], O_RDONLY);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0 || info.st_size == 0)
        return refuse("cannot open the input");
    const size_t length = size_t(info.st_size);
    const char *text = static_cast<const char *>(mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0));
    if (text == MAP_FAILED)
        return refuse("cannot map the input");
    madvise(const_cast<char *>(text), length, MADV_SEQUENTIAL);
    close(fd);
    const char *p = text, *end = text + length;

    // The header: comments, TITLE and DOMAIN lines are passed over; the size
    // line is the one that counts.
    int n = 0;
    while (p < end && n == 0) {
        const char *line = skipBlanks(p, end);
        const char *eol = static_cast<const char *>(std::memchr(line, '\n', size_t(end - line)));
        if (eol == nullptr)
            eol = end;
        if (startsWith(line, eol, "LUT_3D_SIZE"))
            std::from_chars(skipBlanks(line + 11, eol), eol, n);
        else if (line < eol && ((*line >= '0' && *line <= '9') || *line == '-' || *line == '.'))
            return refuse("entries before LUT_3D_SIZE");
        p = eol + 1;
    }
    if (n < 2 || n > 256)
        return refuse("no LUT_3D_SIZE line of 2..256");

    const size_t entries = size_t(n) * n * n;
    float *table = static_cast<float *>(hugeBuffer(entries * 3 * sizeof(float)));
    if (table == nullptr)
        return refuse("out of memory");
    // The entries are parsed and the output lattice formatted in as many
    // parts as there are processors, each part on a thread of its own.
    const int parts = int(std::max(1u, std::min(8u, std::thread::hardware_concurrency())));
    std::vector<const char *> cuts{p};
    for (int k = 1; k < parts; ++k) {
        const char *cut = p + (end - p) * k / parts;
        const char *eol = static_cast<const char *>(std::memchr(cut, '\n', size_t(end - cut)));
        cuts.push_back(std::max(cuts.back(), eol == nullptr ? end : eol + 1));
    }
    cuts.push_back(end);
    std::vector<float *> parsed(size_t(parts), nullptr);
    std::vector<size_t> counts(size_t(parts), 0);
    std::vector<char> ok(size_t(parts), 1);
    runParts(parts, [&](int k) {
        float *values = k == 0 ? table : static_cast<float *>(hugeBuffer(entries * 3 * sizeof(float)));
        parsed[size_t(k)] = values;
        ok[size_t(k)] = values != nullptr && parseRange(cuts[size_t(k)], cuts[size_t(k) + 1], values, entries * 3, &counts[size_t(k)]);
    });
    size_t count = 0;
    for (int k = 0; k < parts; ++k) {
        if (!ok[size_t(k)])
            return refuse("a number expected");
        if (count + counts[size_t(k)] > entries * 3)
            return refuse("more entries than LUT_3D_SIZE says");
        if (k > 0)
            std::memcpy(table + count, parsed[size_t(k)], counts[size_t(k)] * sizeof(float));
        count += counts[size_t(k)];
    }
    if (count != entries * 3)
        return refuse("the file ends before the last entry");

    // Tetrahedral interpolation at each output lattice point, red fastest,
    // a run of blue slices a part. Every output line is at most three
    // fields of "-ddd.dddddd" and blanks.
    const double step = double(n - 1) / double(outN - 1);
    int base[256];
    float frac[256];
    for (int i = 0; i < outN; ++i) {
        const double x = i * step;
        const int b = std::min(int(x), n - 2);
        base[i] = b;
        frac[i] = float(x - b);
    }
    std::vector<char *> outs(size_t(parts), nullptr), ends(size_t(parts), nullptr);
    runParts(parts, [&](int k) {
        const int first = outN * k / parts, last = outN * (k + 1) / parts;
        char *out = static_cast<char *>(hugeBuffer(64 + size_t(last - first) * outN * outN * 3 * 24));
        if (out == nullptr)
            return;
        char *o = out;
        if (k == 0)
            o += std::snprintf(o, 64, "LUT_3D_SIZE %d\n", outN);
        outs[size_t(k)] = out;
        ends[size_t(k)] = formatSlices(o, table, n, outN, first, last, base, frac);
    });
    std::vector<iovec> pieces;
    for (int k = 0; k < parts; ++k) {
        if (outs[size_t(k)] == nullptr)
            return refuse("out of memory");
        pieces.push_back(iovec{outs[size_t(k)], size_t(ends[size_t(k)] - outs[size_t(k)])});
    }

    const std::string temporary = std::string(argv[2]) + ".floor-tmp";
    const int outFd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (outFd < 0)
        return refuse("cannot create the output");
    for (size_t i = 0; i < pieces.size();) {
        const ssize_t written = writev(outFd, pieces.data() + i, int(pieces.size() - i));
        if (written <= 0)
            return refuse("cannot write the output");
        for (size_t done = size_t(written); i < pieces.size() && done > 0;) {
            const size_t step = std::min(done, pieces[i].iov_len);
            pieces[i].iov_base = static_cast<char *>(pieces[i].iov_base) + step;
            pieces[i].iov_len -= step;
            done -= step;
            if (pieces[i].iov_len == 0)
                ++i;
        }
    }
    if (fdatasync(outFd) != 0 || close(outFd) != 0 || rename(temporary.c_str(), argv[2]) != 0)
        return refuse("cannot finish the output");
    return 0;
}
