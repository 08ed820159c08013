// LUT images (identifiers 1 and 2), read only: a 3D LUT as an image of 8-bit
// RGB pixels, one pixel per lattice point.
//
// Tiled (1): a square image of 64, 512 or 4096 pixels a side, cut into
// T x T square tiles of N x N pixels, one tile per slowest-index slice.
// Lattice point (a, b, c) is at column (a mod T) * N + c, row (a div T) * N + b.
//
// Strip (2): N slices of N x N pixels side by side, W = N * N wide and N
// high. Lattice point (a, b, c) is at column a * N + c, row b.

#include "lut/LutImageCodec.h"
#include "lut/LutTable.h"
#include "lut/Read_LUTFile.h"

#include <vector>

namespace {

constexpr int kTiledImageFormat = 1;
constexpr int kStripImageFormat = 2;

// The widest strip: kMaxCubeSize slices of kMaxCubeSize pixels.
constexpr int kMaxStripWidth = kMaxCubeSize * kMaxCubeSize;

// Tiles per side for the accepted tiled image sizes, 0 for any other.
int tilesFor(int width, int height)
{
    if (width != height)
        return 0;
    switch (width) {
    case 64:
        return 4;
    case 512:
        return 8;
    case 4096:
        return 16;
    default:
        return 0;
    }
}

bool isTiledSize(int width, int height)
{
    return tilesFor(width, height) != 0;
}

bool isStripSize(int width, int height)
{
    const qint64 h = height;
    return h >= 1 && width <= kMaxStripWidth && qint64(width) == h * h;
}

// Stores every lattice point (a, b, c), a, b and c below n: the pixel at
// row b and column c of slice a, whose top-left pixel is sliceOffset[a]
// bytes into the 24-bit raster. Rows are addressed through the raster's own
// bytes-per-line, which may include padding. The bytes are stored against a
// domain of 0..255. storeEntry3D puts a point at [a][b][c] when the table
// order is set and at [c][b][a] when it is clear; the loops follow that, so
// the table (200 MB for 256 points) is written in runs rather than one
// scattered entry at a time, while the pixels read stay within a few rows.
void storeSlices(Read_LUTFile &lut, const LutImageCodec::Raster &image, const std::vector<std::ptrdiff_t> &sliceOffset)
{
    const int n = int(sliceOffset.size());
    const uchar *bits = image.bits;
    const std::ptrdiff_t bytesPerLine = std::ptrdiff_t(image.bytesPerLine);
    lut.domainMax3D[0] = lut.domainMax3D[1] = lut.domainMax3D[2] = 255.0f;
    const auto store = [&](int a, int b, int c) {
        const uchar *pixel = bits + sliceOffset[size_t(a)] + b * bytesPerLine + 3 * c;
        lut.storeEntry3D(a, b, c, pixel[0], pixel[1], pixel[2], lut.domainMin3D, lut.domainMax3D);
    };
    if (lut.tableOrderRGB) {
        for (int a = 0; a < n; ++a)
            for (int b = 0; b < n; ++b)
                for (int c = 0; c < n; ++c)
                    store(a, b, c);
    } else {
        for (int b = 0; b < n; ++b)
            for (int c = 0; c < n; ++c)
                for (int a = 0; a < n; ++a)
                    store(a, b, c);
    }
    lut.resetDomainMax3D();
}

} // namespace

bool Read_LUTFile::readLutImageTiled(QString fileName, bool /*headerOnly: always read whole*/)
{
    QString error;
    LutImageCodec::Raster image;
    if (!LutImageCodec::read(fileName, isTiledSize, &image, &error))
        return fail(error);
    applyDefaultOrder(kTiledImageFormat);

    const int tiles = tilesFor(image.width, image.height);
    const int n = image.width / tiles;
    if (!setSize3D(n, false))
        return fail(errorString);

    // Slice a is tile a, counted left to right, then top to bottom.
    std::vector<std::ptrdiff_t> sliceOffset(size_t(n), 0);
    for (int a = 0; a < n; ++a)
        sliceOffset[size_t(a)] = std::ptrdiff_t(a / tiles) * n * std::ptrdiff_t(image.bytesPerLine) + 3 * std::ptrdiff_t(a % tiles) * n;
    storeSlices(*this, image, sliceOffset);
    return true;
}

bool Read_LUTFile::readLutImageStrip(QString fileName, bool /*headerOnly: always read whole*/)
{
    QString error;
    LutImageCodec::Raster image;
    if (!LutImageCodec::read(fileName, isStripSize, &image, &error))
        return fail(error);
    applyDefaultOrder(kStripImageFormat);

    // Rows are addressed through the raster's own bytes-per-line: a row of
    // W * 3 bytes may be padded to a multiple of four.
    const int n = image.height;
    if (!setSize3D(n, false))
        return fail(errorString);

    // The slices stand side by side.
    std::vector<std::ptrdiff_t> sliceOffset(size_t(n), 0);
    for (int a = 0; a < n; ++a)
        sliceOffset[size_t(a)] = 3 * std::ptrdiff_t(a) * n;
    storeSlices(*this, image, sliceOffset);
    return true;
}
