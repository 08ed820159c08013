// Hald CLUT (identifier 19): a cube of N = L * L points per axis for a level
// L from 2 to 16, in a square image of L^3 pixels a side. The lattice points
// follow each other in reading order, left to right and row by row, red
// varying fastest, then green, then blue: lattice point (a, b, c), a blue,
// c red, is pixel number (a * N + b) * N + c. A row of N pixels never
// crosses the image's edge, since N divides L^3.
//
// The image holds 8- or 16-bit RGB pixels (PNG, TIFF or BMP); the reading
// and writing are those of every LUT image (LutImageFormat.cpp).

#include "image/LutImageFormat.h"

#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <cstdlib>

namespace {

constexpr int kMinLevel = 2;
constexpr int kMaxLevel = 16;

// The level whose cube has n points per axis, 0 when n is no level's.
int levelOf(int n)
{
    for (int level = kMinLevel; level <= kMaxLevel; ++level) {
        if (level * level == n)
            return level;
    }
    return 0;
}

int haldCubeSize(const QSize &image)
{
    for (int level = kMinLevel; level <= kMaxLevel; ++level) {
        const int side = level * level * level;
        if (image.width() == side && image.height() == side)
            return level * level;
    }
    return 0;
}

QSize haldImageSize(int n)
{
    const int level = levelOf(n);
    return level ? QSize(level * n, level * n) : QSize();
}

QPoint haldRunStart(int n, int a, int b)
{
    const qint64 side = qint64(levelOf(n)) * n;
    const qint64 pixel = (qint64(a) * n + b) * n;
    return QPoint(int(pixel % side), int(pixel / side));
}

// The level's cube nearest to n points per axis (the larger of two as
// near), so a 33-point cube becomes 36 (level 6) and a 65-point one 64.
int haldHeldSize(int n)
{
    int best = kMinLevel * kMinLevel;
    for (int level = kMinLevel; level <= kMaxLevel; ++level) {
        const int size = level * level;
        if (std::abs(size - n) <= std::abs(best - n))
            best = size;
    }
    return best;
}

} // namespace

namespace LutImageFormat {

const LutImageLayout kHald = {LutFormatId::Hald, "a Hald CLUT", "4, 9, 16, ..., 256 (level 2 to 16 squared)", haldCubeSize,
                              haldImageSize, haldRunStart, haldHeldSize,                               true};

} // namespace LutImageFormat
