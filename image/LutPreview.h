#pragma once

#include <QString>

class QImage;
class Read_LUTFile;

// The contact sheet of chromaduct-convert --preview: a test picture made by
// code before and after a LUT, and the LUT's channel curves.
namespace LutPreview {

// The test picture, width x height, as values 0..1 per channel in a
// 16-bit image: a hue sweep from pale to deep colours, a smooth grey ramp,
// grey steps of a tenth, skin-tone and sky patches on mid grey, and a slow
// dark blue gradient that shows banding.
QImage testPicture(int width, int height);

// Draws the sheet for lut (read for baking) and writes it to outPath as an
// 8-bit PNG: on a dark ground, the test picture as it is (left), through
// the LUT (middle), and the red, green and blue output along the grey
// axis (for a 1D table, its three curves) over a grid of quarters with the
// identity diagonal (right). False with a reason when it cannot be written.
bool write(const Read_LUTFile &lut, const QString &outPath, QString *reason);

} // namespace LutPreview
