#include "lut/LutImageCodec.h"

#include "lut/LutFileNames.h"
#include "lut/LutParallel.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include "ChromaductBuild.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>

#include <clocale>
#include <cstring>

#if defined(__GNUC__)
// Defined where the image sources are linked into the program; null
// elsewhere, where the module is loaded instead.
extern "C" const LutImageCodec::ModuleApi *chromaduct_image_module() __attribute__((weak));
#endif

namespace LutImageCodec {

namespace {

// The module, loaded once: from beside the executable, from ../lib/chromaduct
// beside it (an installed program), or from the build directory (the test
// programs). It stays loaded: what it made may outlive any caller.
struct Module
{
    const ModuleApi *api = nullptr;
    QString error;
};

Module load()
{
    Module found;
    QStringList directories;
    // The program's folder; before the application object is made (see
    // application()), from the system's link to the running executable.
    const QString here = QCoreApplication::instance()
                             ? QCoreApplication::applicationDirPath()
                             : QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), 0, -2);
    if (!here.isEmpty())
        directories << here << here + QLatin1String("/../lib/chromaduct");
    directories << QStringLiteral(CHROMADUCT_MODULE_BUILD_DIR);
    for (const QString &directory : qAsConst(directories)) {
        QLibrary library(directory + QLatin1String("/chromaduct_images"));
        library.setLoadHints(QLibrary::PreventUnloadHint);
        if (!library.load()) {
            if (found.error.isEmpty())
                found.error = library.errorString();
            continue;
        }
        const auto entry = reinterpret_cast<LutImageModuleEntry>(library.resolve("chromaduct_image_module"));
        const ModuleApi *api = entry ? entry() : nullptr;
        QString why = QStringLiteral("it has no entry point");
        if (api && acceptsModule(*api, &why)) {
            found.api = api;
            return found;
        }
        found.error = QStringLiteral("%1 is not of this build: %2").arg(library.fileName(), why);
    }
    return found;
}

// The image code, or null with the reason it cannot be had.
const ModuleApi *images(QString *error)
{
#if defined(__GNUC__)
    if (chromaduct_image_module)
        return chromaduct_image_module();
#endif
    static const Module loaded = load();
    if (!loaded.api)
        *error = QStringLiteral("image support is not available: %1").arg(loaded.error);
    return loaded.api;
}

} // namespace

bool acceptsModule(const ModuleApi &api, QString *why)
{
    const ModuleApi mine = {CHROMADUCT_MODULE_IDENTITY, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    if (std::strcmp(api.buildId, mine.buildId) != 0) {
        *why = QStringLiteral("its build id is %1, this program's %2")
                   .arg(QLatin1String(api.buildId), QLatin1String(mine.buildId));
        return false;
    }
    if (std::memcmp(api.typeSizes, mine.typeSizes, sizeof mine.typeSizes) != 0) {
        *why = QStringLiteral("the types it shares with this program differ in size");
        return false;
    }
    return true;
}

QByteArray rasterFormat(const QString &path)
{
    QFile file;
    QString error;
    if (!LutFileNames::openForReading(file, path, &error))
        return QByteArray();
    return rasterFormatOf(file.read(8));
}

QByteArray rasterFormatOf(const QByteArray &head)
{
    if (head.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8)))
        return QByteArrayLiteral("png");
    if (head.startsWith("BM"))
        return QByteArrayLiteral("bmp");
    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)))
        return QByteArrayLiteral("tiff");
    if (head.startsWith("\xff\xd8\xff"))
        return QByteArrayLiteral("jpeg");
    return QByteArray();
}

bool read(Read_LUTFile &lut, const QString &path, LutFormatId formatId)
{
    QString error;
    const ModuleApi *api = images(&error);
    return api ? api->read(lut, path, formatId) : lut.fail(error);
}

bool write(Write_LUTFile &writer, const QString &path, const Read_LUTFile &lut, LutFormatId formatId)
{
    QString error;
    const ModuleApi *api = images(&error);
    return api ? api->write(writer, path, lut, formatId) : writer.fail(error);
}

int cubeSizeOf(const QString &path, LutFormatId formatId)
{
    QString error;
    const ModuleApi *api = images(&error);
    return api ? api->cubeSizeOf(path, formatId) : 0;
}

int heldSize(LutFormatId formatId, int n)
{
    QString error;
    const ModuleApi *api = images(&error);
    return api ? api->heldSize(formatId, n) : 0;
}

int applyToPicture(const Read_LUTFile &lut, const QString &inPath, const QString &outPath, const PictureOutput &output,
                   QString *reason, QStringList *notes)
{
    const ModuleApi *api = images(reason);
    return api ? api->applyToPicture(lut, inPath, outPath, output, LutParallel::threads(), reason, notes) : 1;
}

bool writePreview(const Read_LUTFile &lut, const QString &outPath, const PreviewSettings &settings, QString *reason)
{
    const ModuleApi *api = images(reason);
    return api && api->writePreview(lut, outPath, settings, reason);
}

std::unique_ptr<QCoreApplication> application(int &argc, char **argv, bool drawsText)
{
    QString error;
    const ModuleApi *api = drawsText ? images(&error) : nullptr;
    if (api)
        return std::unique_ptr<QCoreApplication>(api->guiApplication(argc, argv));
    // What the application object would take from the environment and this
    // program uses: the character set (how the toolkit decodes the system's
    // text) and the language of the system's error messages. Numbers are
    // never read or written through the locale, and loading its other
    // categories costs start-up time for nothing.
    std::setlocale(LC_CTYPE, "");
    std::setlocale(LC_MESSAGES, "");
    return nullptr;
}

} // namespace LutImageCodec

// The catalogue's image readers and writers.

bool Read_LUTFile::readLutImageTiled(QString fileName, bool /*headerOnly: always read whole*/)
{
    return LutImageCodec::read(*this, fileName, LutFormatId::TiledImage);
}

bool Read_LUTFile::readLutImageStrip(QString fileName, bool /*headerOnly: always read whole*/)
{
    return LutImageCodec::read(*this, fileName, LutFormatId::StripImage);
}

bool Read_LUTFile::readHald(QString fileName, bool /*headerOnly: always read whole*/)
{
    return LutImageCodec::read(*this, fileName, LutFormatId::Hald);
}

bool Write_LUTFile::writeLutImageTiled(QString fileName, Read_LUTFile *lut)
{
    return LutImageCodec::write(*this, fileName, *lut, LutFormatId::TiledImage);
}

bool Write_LUTFile::writeLutImageStrip(QString fileName, Read_LUTFile *lut)
{
    return LutImageCodec::write(*this, fileName, *lut, LutFormatId::StripImage);
}

bool Write_LUTFile::writeHald(QString fileName, Read_LUTFile *lut)
{
    return LutImageCodec::write(*this, fileName, *lut, LutFormatId::Hald);
}
