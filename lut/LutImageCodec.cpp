#include "lut/LutImageCodec.h"

#include <QCoreApplication>
#include <QFile>
#include <QLibrary>
#include <QStringList>

namespace LutImageCodec {

namespace {

// The module, loaded once: from beside the executable, from ../lib/chromaduct
// beside it (an installed program), or from the build directory (the test
// programs). It stays loaded: rasters it made may outlive any caller.
struct Module
{
    const ModuleApi *api = nullptr;
    QString error;
};

const Module &module()
{
    static const Module loaded = [] {
        Module found;
        QStringList directories;
        if (QCoreApplication::instance()) {
            const QString here = QCoreApplication::applicationDirPath();
            directories << here << here + QLatin1String("/../lib/chromaduct");
        }
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
            if (api && api->version == kModuleVersion) {
                found.api = api;
                return found;
            }
            found.error = QStringLiteral("%1 is of another version").arg(library.fileName());
        }
        return found;
    }();
    return loaded;
}

// The module, or false with the reason it cannot be had.
const ModuleApi *moduleApi(QString *error)
{
    const Module &loaded = module();
    if (!loaded.api)
        *error = QStringLiteral("image support is not available: %1").arg(loaded.error);
    return loaded.api;
}

// The raster format of path, or empty with the reason.
QByteArray formatOf(const QString &path, QString *error)
{
    const QByteArray format = rasterFormat(path);
    if (format.isEmpty()) {
        QFile file(path);
        *error = file.open(QIODevice::ReadOnly) ? QStringLiteral("not a PNG or BMP image")
                                                : QStringLiteral("cannot open: %1").arg(file.errorString());
    }
    return format;
}

} // namespace

QByteArray rasterFormat(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray head = file.read(8);
    if (head == QByteArray("\x89PNG\r\n\x1a\n", 8))
        return QByteArrayLiteral("png");
    if (head.startsWith("BM"))
        return QByteArrayLiteral("bmp");
    return QByteArray();
}

bool readSize(const QString &path, int *width, int *height, QString *error)
{
    const QByteArray format = formatOf(path, error);
    if (format.isEmpty())
        return false;
    const ModuleApi *api = moduleApi(error);
    return api && api->readSize(path, format, width, height, error);
}

bool read(const QString &path, SizeCheck acceptable, Raster *raster, QString *error)
{
    const QByteArray format = formatOf(path, error);
    if (format.isEmpty())
        return false;
    const ModuleApi *api = moduleApi(error);
    return api && api->read(path, format, acceptable, raster, error);
}

bool write(const QString &path, const Raster &raster, const char *format, QString *error)
{
    const ModuleApi *api = moduleApi(error);
    return api && api->write(path, raster, format, error);
}

} // namespace LutImageCodec
