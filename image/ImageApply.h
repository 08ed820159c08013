#pragma once

#include "lut/LutImageCodec.h"

#include <QString>
#include <QStringList>

class Read_LUTFile;

// Applying a LUT to a picture, for chromaduct-convert --apply. Every image
// this file touches is decoded or encoded here (or in LutPreview), so the
// command line needs the toolkit's image support only on this road.
//
// The picture is processed in bands of scan lines. Every output type is
// encoded row by row (ImageRows), and a non-interlaced PNG or a JPEG is
// decoded so, and a float TIFF or an EXR a strip, a row of tiles or a block
// of rows at a time, so such a picture costs a few bands of memory however
// large it is; integer TIFF, BMP and interlaced PNG pictures are decoded whole (at most
// LutImageCodec::kMaxDecodedBytes). A picture above the size bounds of
// LutImageCodec, or whose transform would take more evaluation steps than
// LutCalc allows, is refused before a pixel is decoded or a byte written.
// Each band is spread over the threads. Every pixel is computed on its own,
// so the result does not depend on the thread count.
namespace ImageApply {

struct Options
{
    int outputBits = 0; // 8 or 16 (codes, also for float input); 0: the input picture's depth or sample type
    int threads = 0;    // 0: one per processor
    int jpegQuality = LutImageCodec::kJpegQuality; // of a JPEG output, 1 to 100
};

enum class Status { Done, InputFailed, OutputFailed };

struct Result
{
    Status status = Status::Done;
    QString reason;    // why it failed
    QStringList notes; // said on stderr once the picture is written
};

// Applies the whole transform lut means (read for baking; LutCalc::evaluate)
// to the colour of every pixel of the picture inPath: codes to 0..1 (the
// values of a float TIFF or an EXR as they are), through the transform in
// double precision, back to the nearest code of the output depth (values
// beyond 0..1 take the ends) or, for a float TIFF or EXR output, the values
// unclamped in the input's sample type (half for a picture of codes).
// Alpha is copied. The output's type comes from outPath's extension: .png,
// .tif/.tiff, .exr, .jpg/.jpeg or .bmp (the last two hold 8 bits).
Result apply(const Read_LUTFile &lut, const QString &inPath, const QString &outPath, const Options &options);

// The image types apply writes, as the extensions that name them.
QStringList outputExtensions();

} // namespace ImageApply
