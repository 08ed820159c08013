#pragma once

#include "lut/LutFormats.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class QCoreApplication;
class Read_LUTFile;
class Write_LUTFile;

// Everything that works on images: the LUT image formats (tiled, strip,
// Hald CLUT), --apply and --preview.
//
// Decoding and encoding need the toolkit's GUI library and libpng, which
// take a process some milliseconds to load. That code lives in a module of
// its own, libchromaduct_images (the image sources and image/LutImageModule.cpp),
// loaded the first time an image is read or written, so that a conversion of
// text files never loads those libraries. Programs that link the image
// sources themselves (the window, the tests) use them in place. Every use of
// QImage or libpng belongs in the module, reached through a function here.
namespace LutImageCodec {

// The raster type a file's first bytes name: "png", "bmp", "tiff" or "jpeg",
// else empty (also when the file cannot be opened). Needs no module.
QByteArray rasterFormat(const QString &path);
// The same for the first bytes themselves (eight are enough).
QByteArray rasterFormatOf(const QByteArray &head);

// The reader and writer of the LUT image format formatId (a tiled or strip
// LUT image or a Hald CLUT).
bool read(Read_LUTFile &lut, const QString &path, LutFormatId formatId);
bool write(Write_LUTFile &writer, const QString &path, const Read_LUTFile &lut, LutFormatId formatId);
// The cube size the image at path holds in the layout of formatId, from
// its header; 0 when it holds none or cannot be read.
int cubeSizeOf(const QString &path, LutFormatId formatId);
// The cube size a LUT image of formatId holds nearest to n.
int heldSize(LutFormatId formatId, int n);

// The pictures --apply takes. Every output is written a row at a time and
// a PNG or JPEG picture is read so, so memory is a few rows; a picture the
// toolkit decodes whole (BMP, TIFF, an interlaced PNG) takes at most
// kMaxDecodedBytes. The pixel count bounds the time: 400 million pixels
// (20000 x 20000, 8 bits, a PNG into PNG, TIFF, JPEG or BMP) take 30 to 40 s
// on two processors, so the largest picture takes a minute or two; the
// largest stitched panoramas are of this size.
constexpr qint64 kMaxPicturePixels = qint64(1) << 30; // 1073741824, e.g. 32768 x 32768
constexpr int kMaxPictureWidth = 1 << 20;              // 1048576 pixels in a row
constexpr qint64 kMaxDecodedBytes = qint64(1) << 30;   // 1 GiB

// The JPEG quality (1 to 100) of a picture written without one chosen.
constexpr int kJpegQuality = 95;

// How --apply writes its picture.
struct PictureOutput
{
    int bits = 0;                   // 8 or 16 bits per channel; 0: the input's depth
    int jpegQuality = kJpegQuality; // of a JPEG output
};

// --apply: the picture inPath through lut into outPath (ImageApply::apply)
// on the threads of LutParallel::threads(). Returns 0 when done, 1 when the
// input failed, 2 when the output failed, with the reason; notes are said
// once the picture is written.
int applyToPicture(const Read_LUTFile &lut, const QString &inPath, const QString &outPath, const PictureOutput &output,
                   QString *reason, QStringList *notes);
// The encoding of --preview's test picture: as display code values, as
// log (the scene-linear values a display decodes them to, in a pure log2
// encoding), or as those scene-linear values themselves.
enum class PreviewInput { Display, Log, Linear };

struct PreviewSettings
{
    QString title; // said above the pictures (the LUT's file name); none when empty
    PreviewInput input = PreviewInput::Display;
};

// --preview: the contact sheet of lut as a PNG (LutPreview::write).
bool writePreview(const Read_LUTFile &lut, const QString &outPath, const PreviewSettings &settings, QString *reason);

// The application object of a program that may draw text into pictures
// (drawsText: the preview's captions): a QGuiApplication on the offscreen
// platform, made by the image module, which has Qt Gui, when the module
// can be had. Null otherwise: reading, converting and writing need no
// application object (making one costs milliseconds at start-up), and the
// locale's character set and message language are taken from the
// environment here as the object would take them, so that text and file
// names are encoded alike. Called before anything else of Qt is used.
std::unique_ptr<QCoreApplication> application(int &argc, char **argv, bool drawsText);

// What the module gives: the functions above but rasterFormat.
struct ModuleApi
{
    // The build the module comes from (see ModuleCheck); the module binds
    // to the program's types and functions, so it is used only by a program
    // of its own build.
    const char *buildId;
    size_t typeSizes[6];
    bool (*read)(Read_LUTFile &lut, const QString &path, LutFormatId formatId);
    bool (*write)(Write_LUTFile &writer, const QString &path, const Read_LUTFile &lut, LutFormatId formatId);
    int (*cubeSizeOf)(const QString &path, LutFormatId formatId);
    int (*heldSize)(LutFormatId formatId, int n);
    int (*applyToPicture)(const Read_LUTFile &lut, const QString &inPath, const QString &outPath,
                          const PictureOutput &output, int threads, QString *reason, QStringList *notes);
    bool (*writePreview)(const Read_LUTFile &lut, const QString &outPath, const PreviewSettings &settings,
                         QString *reason);
    QCoreApplication *(*guiApplication)(int &argc, char **argv);
};

// The first two members of a ModuleApi as the code that expands it is
// built: the build id (a hash of the headers the module and the program
// share and of the compiler flags, from the generated ChromaductBuild.h) and
// the sizes of the types they hand each other. A macro, not a function: the
// module binds to the program's functions, so only text compiled into each
// of them tells their builds apart. Needs the container's and the writer's
// definitions.
#define CHROMADUCT_MODULE_IDENTITY                                                                                     \
    CHROMADUCT_BUILD_ID, {sizeof(Read_LUTFile), sizeof(Write_LUTFile), sizeof(LutMeaning), sizeof(LutTable3D),       \
                          sizeof(QString), sizeof(LutImageCodec::ModuleApi)}

// Whether a module's ModuleApi comes from this build; why not in *why.
bool acceptsModule(const ModuleApi &api, QString *why);

} // namespace LutImageCodec

// The image code's one entry point, chromaduct_image_module (C linkage),
// defined by image/LutImageModule.cpp in the module and wherever the image
// sources are linked in.
using LutImageModuleEntry = const LutImageCodec::ModuleApi *(*)();
