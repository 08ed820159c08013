// chromaduct-bench: how long the cube path takes.
//
// In process: a full read of a 65-point cube file, resampling a 33-point cube
// to 65 points, and writing a 65-point cube file. Whole process: converting a
// 65-point cube file to a 33-point one with chromaduct-convert, beside
// ociobakelut doing the same job. Each figure is the median of several runs.
//
// Usage: chromaduct-bench [RUNS]   (default 7)

#include "calc/LutCalc.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// A smooth, deterministic, non-identity transform of 0..1 into 0..1: a
// gamma-like curve per channel with some cross-talk.
void lookFunction(double r, double g, double b, float out[3])
{
    out[0] = float(0.85 * std::pow(r, 0.8) + 0.1 * g * b + 0.02);
    out[1] = float(0.8 * std::pow(g, 1.2) + 0.15 * r * (1.0 - b) + 0.01);
    out[2] = float(0.7 * std::sqrt(b) + 0.2 * r * g + 0.05);
}

bool makeCube(int n, Read_LUTFile *lut)
{
    if (!lut->setSize3D(n, false))
        return false;
    for (int r = 0; r < n; ++r)
        for (int g = 0; g < n; ++g)
            for (int b = 0; b < n; ++b)
                lookFunction(r / double(n - 1), g / double(n - 1), b / double(n - 1), lut->table3D[r][g][b]);
    return true;
}

// Writes lut as a cube file in the standard layout (red fastest).
bool writeCube(const QString &path, Read_LUTFile *lut)
{
    LutFileOptions options;
    options.path = path;
    options.format = 0;
    options.dataOrderRGB = true;
    options.tableOrderRGB = false;
    Write_LUTFile writer;
    return writer.writeLut(options, lut);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// Median wall time of runs calls of job, in milliseconds; negative when a
// call fails.
double timeMedian(int runs, const std::function<bool()> &job)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (!job())
            return -1.0;
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    return median(times);
}

bool runProgram(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(600000))
        return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void report(const char *what, double ms)
{
    if (ms < 0)
        std::printf("  %-34s FAILED\n", what);
    else
        std::printf("  %-34s %9.2f ms\n", what, ms);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "chromaduct-bench: cannot make a temporary directory\n");
        return 1;
    }
    const QString cube65 = dir.filePath(QStringLiteral("in65.cube"));
    Read_LUTFile source65, source33;
    if (!makeCube(65, &source65) || !makeCube(33, &source33) || !writeCube(cube65, &source65)) {
        std::fprintf(stderr, "chromaduct-bench: cannot build the test cubes\n");
        return 1;
    }

    std::printf("In process, median of %d runs:\n", runs);
    report("read 65-point cube file", timeMedian(runs, [&] {
                Read_LUTFile lut;
                LutFileOptions options;
                options.path = cube65;
                return lut.readLut(options, false) && lut.size3D == 65;
            }));
    report("resample 33 -> 65", timeMedian(runs, [&] {
                Read_LUTFile lut;
                return lut.setSize3D(65, false) && LutCalc::resampleCube(&source33, &lut);
            }));
    const QString written = dir.filePath(QStringLiteral("written65.cube"));
    report("write 65-point cube file", timeMedian(runs, [&] { return writeCube(written, &source65); }));

    const QString convert = QStringLiteral(CHROMADUCT_CONVERT_PATH);
    const QString ours = dir.filePath(QStringLiteral("ours33.cube"));
    std::printf("Whole process, 65-point cube to 33-point cube, median of %d runs:\n", runs);
    const double oursMs = timeMedian(runs, [&] {
        return runProgram(convert, {cube65, ours, QStringLiteral("--size"), QStringLiteral("33")});
    });
    report("chromaduct-convert", oursMs);
    const QString baked = dir.filePath(QStringLiteral("baked33.cube"));
    const double bakeMs = timeMedian(runs, [&] {
        return runProgram(convert, {QStringLiteral("--bake"), cube65, baked, QStringLiteral("--size"), QStringLiteral("33")});
    });
    report("chromaduct-convert --bake", bakeMs);
    if (oursMs > 0 && bakeMs > 0)
        std::printf("  ratio --bake / plain: %.2fx (target: 1.5x or less)\n", bakeMs / oursMs);

    const QString ocio = QStandardPaths::findExecutable(QStringLiteral("ociobakelut"));
    if (ocio.isEmpty()) {
        std::printf("  ociobakelut not found on PATH: no comparison\n");
        return oursMs < 0 ? 1 : 0;
    }
    const QString theirs = dir.filePath(QStringLiteral("ocio33.cube"));
    const double ocioMs = timeMedian(runs, [&] {
        return runProgram(ocio, {QStringLiteral("--lut"), cube65, QStringLiteral("--format"),
                                 QStringLiteral("iridas_cube"), QStringLiteral("--cubesize"), QStringLiteral("33"),
                                 theirs});
    });
    report("ociobakelut", ocioMs);
    if (oursMs > 0 && ocioMs > 0)
        std::printf("  ratio ociobakelut / chromaduct-convert: %.2fx\n", ocioMs / oursMs);
    return oursMs < 0 || ocioMs < 0 ? 1 : 0;
}
