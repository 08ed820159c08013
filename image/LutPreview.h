#pragma once

#include "lut/LutImageCodec.h"

#include <QString>

class QImage;
class Read_LUTFile;

// The contact sheet of chromaduct-convert --preview: a test picture made by
// code before and after a LUT, and the LUT's channel curves.
namespace LutPreview {

// The test picture, width x height, as values 0..1 per channel in a
// 16-bit image: a hue sweep from pale to deep colours, a smooth grey ramp,
// grey steps of a tenth, skin-tone and sky patches on mid grey, and a slow
// dark blue gradient that shows banding. Log and Linear give the same
// picture in that encoding: each display value d decoded to linear light
// d^2.4 (0.18 for mid grey 0.49), then for Log encoded as
// (log2(x) + 9.72) / 17.52, which takes 2^-9.72 to 2^7.8 to 0..1.
QImage testPicture(int width, int height, LutImageCodec::PreviewInput input = LutImageCodec::PreviewInput::Display);

// Draws the sheet for lut (read for baking) and writes it to outPath as an
// 8-bit PNG: on a dark ground, the test picture in the encoding settings
// choose as it is (left, "before"), through the LUT (middle, "after"), and
// the red, green and blue output along the grey axis (for a 1D table, its
// three curves) over a grid of quarters with the identity diagonal (right,
// under the title). The captions are drawn where the program has fonts
// (a QGuiApplication). False with a reason when it cannot be written.
bool write(const Read_LUTFile &lut, const QString &outPath, const LutImageCodec::PreviewSettings &settings, QString *reason);

} // namespace LutPreview
