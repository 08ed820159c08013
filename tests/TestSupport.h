#pragma once

// Small helpers shared by the test executables: temporary files, running
// chromaduct-convert and the OpenColorIO peer, and reading cube text back.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace TestSupport {

// Path of the shared corpus of real LUT files ("" when it is not there).
QString corpusDir();
QString convertPath();

// Writes text to path; returns path.
QString writeFile(const QString &path, const QByteArray &text);
QByteArray readFile(const QString &path);

struct ProcessResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
// Runs a program with arguments, input on its standard input, and waits (up to
// timeoutMs; exitCode -1 when it had to be killed).
ProcessResult runProcess(const QString &program, const QStringList &arguments, const QByteArray &input = QByteArray(),
                         int timeoutMs = 120000);
ProcessResult runConvert(const QStringList &arguments, const QByteArray &input = QByteArray(), int timeoutMs = 120000);

// True when ociobakelut from opencolorio-tools is installed.
bool haveOcio();
// Bakes lutFile with ociobakelut into outFile in the given format and cube size.
bool ociobake(const QString &lutFile, const QString &format, int cubeSize, const QString &outFile,
              QString *error = nullptr);

// The data lines of a cube file as float triples, in file order (lines that
// do not start with a number are skipped), and the LUT_3D_SIZE it gives.
struct CubeText {
    int size = 0;
    std::vector<float> values; // 3 per line
};
CubeText parseCubeText(const QString &path);

} // namespace TestSupport
