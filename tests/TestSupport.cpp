#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>

namespace TestSupport {

QString corpusDir()
{
    const QString dir = QStringLiteral(CHROMADUCT_CORPUS_DIR);
    return QDir(dir).exists() ? dir : QString();
}

QString convertPath()
{
    return QStringLiteral(CHROMADUCT_CONVERT_PATH);
}

QString writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text);
    return path;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

ProcessResult runProcess(const QString &program, const QStringList &arguments, const QByteArray &input, int timeoutMs)
{
    ProcessResult result;
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(30000))
        return result;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

ProcessResult runConvert(const QStringList &arguments, const QByteArray &input, int timeoutMs)
{
    return runProcess(convertPath(), arguments, input, timeoutMs);
}

bool haveOcio()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ociobakelut")).isEmpty();
}

bool ociobake(const QString &lutFile, const QString &format, int cubeSize, const QString &outFile,
              QString *error)
{
    QStringList args{QStringLiteral("--lut"), lutFile, QStringLiteral("--format"), format};
    if (cubeSize > 0)
        args << QStringLiteral("--cubesize") << QString::number(cubeSize);
    args << outFile;
    const ProcessResult r = runProcess(QStringLiteral("ociobakelut"), args);
    if (error)
        *error = QString::fromLocal8Bit(r.err + r.out);
    return r.exitCode == 0 && QFile::exists(outFile);
}

CubeText parseCubeText(const QString &path)
{
    CubeText cube;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return cube;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith("LUT_3D_SIZE")) {
            cube.size = line.mid(11).trimmed().toInt();
            continue;
        }
        if (line.isEmpty())
            continue;
        const char c = line[0];
        if (!((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.'))
            continue;
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 3)
            continue;
        for (int i = 0; i < 3; ++i)
            cube.values.push_back(fields[i].toFloat());
    }
    return cube;
}

} // namespace TestSupport
