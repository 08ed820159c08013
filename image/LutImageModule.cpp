// The entry point of the image code (libchromaduct_images, or the image
// sources linked into a program): the LUT image formats, --apply and
// --preview behind LutImageCodec's ModuleApi. The module uses the program
// that loads it for everything else (the container, the writer object, the
// sampler), whose symbols that program exports.

#include "lut/LutImageCodec.h"

#include "ChromaductBuild.h"

#include "image/ImageApply.h"
#include "image/LutPreview.h"
#include "image/LutImageFormat.h"
#include "image/LutImageInput.h"
#include "image/LutPng.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QGuiApplication>


namespace {

const LutImageLayout *layoutOf(LutFormatId formatId)
{
    switch (formatId) {
    case LutFormatId::TiledImage:
        return &LutImageFormat::kTiled;
    case LutFormatId::StripImage:
        return &LutImageFormat::kStrip;
    case LutFormatId::Hald:
        return &LutImageFormat::kHald;
    default:
        return nullptr;
    }
}

bool read(Read_LUTFile &lut, const QString &path, LutFormatId formatId)
{
    const LutImageLayout *layout = layoutOf(formatId);
    return layout ? LutImageFormat::read(lut, path, *layout) : lut.fail(QStringLiteral("not a LUT image format"));
}

bool write(Write_LUTFile &writer, const QString &path, const Read_LUTFile &lut, LutFormatId formatId)
{
    const LutImageLayout *layout = layoutOf(formatId);
    return layout ? LutImageFormat::write(writer, path, lut, *layout) : writer.fail(QStringLiteral("not a LUT image format"));
}

int cubeSizeOf(const QString &path, LutFormatId formatId)
{
    const LutImageLayout *layout = layoutOf(formatId);
    if (!layout)
        return 0;
    QString error;
    if (LutImageCodec::rasterFormat(path) == "png") {
        PngReader png;
        return png.open(path) ? layout->cubeSize(QSize(png.width(), png.height())) : 0;
    }
    LutImageInput::Raster raster;
    return raster.open(path, LutImageInput::LutImages, &error) ? layout->cubeSize(raster.size(&error)) : 0;
}

int heldSize(LutFormatId formatId, int n)
{
    const LutImageLayout *layout = layoutOf(formatId);
    return layout ? layout->heldSize(n) : 0;
}

int applyToPicture(const Read_LUTFile &lut, const QString &inPath, const QString &outPath,
                   const LutImageCodec::PictureOutput &output, int threads, QString *reason, QStringList *notes)
{
    ImageApply::Options options;
    options.outputBits = output.bits;
    options.jpegQuality = output.jpegQuality;
    options.threads = threads;
    const ImageApply::Result result = ImageApply::apply(lut, inPath, outPath, options);
    *reason = result.reason;
    *notes = result.notes;
    return result.status == ImageApply::Status::Done ? 0 : result.status == ImageApply::Status::InputFailed ? 1 : 2;
}

// Qt's notes while it starts (no XDG_RUNTIME_DIR, say) are not ours to
// print: the command line says one line per failure.
void quietly(QtMsgType, const QMessageLogContext &, const QString &) {}

QCoreApplication *guiApplication(int &argc, char **argv)
{
    // Never a window: the offscreen platform, whatever the environment says.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QtMessageHandler previous = qInstallMessageHandler(quietly);
    auto *app = new QGuiApplication(argc, argv);
    qInstallMessageHandler(previous);
    return app;
}

const LutImageCodec::ModuleApi api = {CHROMADUCT_MODULE_IDENTITY, read, write, cubeSizeOf, heldSize,
                                      applyToPicture, LutPreview::write, guiApplication};

} // namespace

extern "C" Q_DECL_EXPORT const LutImageCodec::ModuleApi *chromaduct_image_module()
{
    return &api;
}
