#pragma once

#include "lut/LutFormats.h"

#include <QPoint>
#include <QSize>
#include <QString>

class Read_LUTFile;
class Write_LUTFile;

// How a kind of LUT image holds a cube: which image sizes it takes and
// where each lattice point's pixel is. Lattice point (a, b, c) has a the
// slowest index (blue under the formats' own order) and c the fastest
// (red); in every kind the pixels of (a, b, 0..N-1) stand side by side in
// one row, left to right.
struct LutImageLayout
{
    LutFormatId formatId;
    const char *description; // "a tiled LUT image", for messages
    const char *sizes;       // the cube sizes it holds, for messages
    // The cube size an image of this size holds, 0 when none.
    int (*cubeSize)(const QSize &image);
    // The image size for a cube of n points per axis; invalid when none.
    QSize (*imageSize)(int n);
    // The pixel of lattice point (a, b, 0) in a cube of n points.
    QPoint (*runStart)(int n, int a, int b);
    // The cube size an image holds nearest to n (what a conversion
    // resamples to).
    int (*heldSize)(int n);
    // Whether an image whose pixels hold no colour (grey, black and white)
    // is refused.
    bool colourOnly;
};

namespace LutImageFormat {

extern const LutImageLayout kTiled; // identifier 1
extern const LutImageLayout kStrip; // identifier 2
extern const LutImageLayout kHald;  // identifier 19 (formats/HaldFormat.cpp)

// Reads the PNG, BMP or TIFF image fileName into lut's cube: 8-bit images
// as codes of 255, 16-bit ones of 65535. The size the header states is
// checked before any pixel is decoded. False with lut's errorString set.
bool read(Read_LUTFile &lut, const QString &fileName, const LutImageLayout &layout);

// Writes lut's cube as an image of the layout: TIFF for a .tif or .tiff
// name, BMP for .bmp, else PNG; 16 bits per channel at the writer's
// output scale of 65535, 8 bits at 255 (a BMP holds 8 only). The cube must
// have a size the layout holds. False with the writer's errorString set.
bool write(Write_LUTFile &writer, const QString &fileName, const Read_LUTFile &lut, const LutImageLayout &layout);

} // namespace LutImageFormat
