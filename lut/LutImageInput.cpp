#include "lut/LutImageInput.h"

#include <QFile>
#include <QImageReader>

namespace LutImageInput {

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

bool open(QImageReader &reader, const QString &path, QString *error)
{
    const QByteArray format = rasterFormat(path);
    if (format.isEmpty()) {
        QFile file(path);
        *error = file.open(QIODevice::ReadOnly) ? QStringLiteral("not a PNG or BMP image")
                                                : QStringLiteral("cannot open: %1").arg(file.errorString());
        return false;
    }
    // With the format given and detection off, neither the content nor the
    // file name can bring in another decoder.
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    reader.setFormat(format);
    reader.setFileName(path);
    return true;
}

} // namespace LutImageInput
