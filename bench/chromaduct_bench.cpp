// chromaduct-bench: how fast the conversions are, beside OpenColorIO's
// ociobakelut doing the same jobs.
//
// In process: the text parse of a 65-point cube file (MB/s), six-decimal
// writing of one (MB/s) and the tetrahedral resample of a 33-point cube to
// 65 points (ms). Whole process: each job run by chromaduct-convert and by
// ociobakelut in turn, round after round, with the median time of each, the
// ratio (ociobakelut / ours), the target and the peak resident memory of
// ours; the cube jobs done by chromaduct-bench-floor, the floor, and our
// time over its; the process start (--formats); a batch of 64 65-point
// cubes to 33 points with -j 1, with the default and as a shell loop of
// ociobakelut.
//
// Usage: chromaduct-bench [--rounds N] [--batch-rounds N] [--no-batch]
//                         [--json FILE] [--convert PROGRAM] [ROUNDS]
// --convert times another build's chromaduct-convert (the in-process figures
// stay this build's).

#include "calc/LutCalc.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QRgba64>
#include <QThread>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

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

// Writes lut as a cube file or in another writable format, in the order its
// reader takes by default.
bool writeLut(const QString &path, Read_LUTFile *lut, LutFormatId format = LutFormatId::Cube)
{
    LutFileOptions options;
    options.path = path;
    options.format = format;
    options.dataOrderRGB = true;
    options.tableOrderRGB = format != LutFormatId::Cube;
    Write_LUTFile writer;
    return writer.writeLut(options, lut);
}

bool writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// A 3dl file as film systems write it: a mesh line, a shaper line of 10-bit
// input codes and 12-bit output codes, blue fastest.
QByteArray threeDlText(int n)
{
    QByteArray text = "3DMESH\nMesh " + QByteArray::number(int(std::log2(n - 1))) + " 12\n";
    for (int i = 0; i < n; ++i)
        text += QByteArray::number(int(std::lround(i * 1023.0 / (n - 1)))) + (i + 1 < n ? " " : "\n");
    for (int r = 0; r < n; ++r)
        for (int g = 0; g < n; ++g)
            for (int b = 0; b < n; ++b) {
                float v[3];
                lookFunction(r / double(n - 1), g / double(n - 1), b / double(n - 1), v);
                for (int c = 0; c < 3; ++c)
                    text += QByteArray::number(int(std::lround(std::min(1.0f, v[c]) * 4095.0))) + (c < 2 ? " " : "\n");
            }
    return text;
}

// A 1D curve of n samples, a gamma per channel, as an spi1d file.
QByteArray spi1dText(int n)
{
    QByteArray text = "Version 1\nFrom 0.0 1.0\nLength " + QByteArray::number(n) + "\nComponents 3\n{\n";
    for (int i = 0; i < n; ++i) {
        const double t = double(i) / (n - 1);
        text += "    " + QByteArray::number(std::pow(t, 0.45), 'f', 6) + ' ' + QByteArray::number(std::pow(t, 0.5), 'f', 6)
            + ' ' + QByteArray::number(std::pow(t, 0.55), 'f', 6) + '\n';
    }
    return text + "}\n";
}

// A tiled LUT image of 4096 x 4096 pixels: 16 x 16 tiles of 256 x 256, a
// 256-point cube.
bool writeTiledImage(const QString &path)
{
    constexpr int kPoints = 256, kTiles = 16;
    QImage image(kPoints * kTiles, kPoints * kTiles, QImage::Format_RGB888);
    if (image.isNull())
        return false;
    for (int a = 0; a < kPoints; ++a) {
        for (int b = 0; b < kPoints; ++b) {
            uchar *row = image.scanLine((a / kTiles) * kPoints + b) + 3 * (a % kTiles) * kPoints;
            for (int c = 0; c < kPoints; ++c) {
                float v[3];
                lookFunction(a / 255.0, b / 255.0, c / 255.0, v);
                for (int ch = 0; ch < 3; ++ch)
                    row[3 * c + ch] = uchar(std::lround(std::min(1.0f, v[ch]) * 255.0f));
            }
        }
    }
    return image.save(path, "PNG");
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1.0;
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

// One run of a program: its wall time and its peak resident memory.
struct Run
{
    bool ok = false;
    double ms = 0.0;
    double peakMB = 0.0;
};

// Runs program with arguments through chromaduct-bench-run, which
// discards its output, and reads what that measured.
Run runProgram(const QString &program, const QStringList &arguments)
{
    std::vector<QByteArray> storage;
    storage.push_back(QByteArrayLiteral(CHROMADUCT_BENCH_RUN_PATH));
    storage.push_back(QFile::encodeName(program));
    for (const QString &argument : arguments)
        storage.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    Run run;
    int channel[2];
    if (pipe(channel) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, channel[1], 1);
    posix_spawn_file_actions_addclose(&actions, channel[0]);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(channel[1]);
    QByteArray report;
    char buffer[256];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, int(n));
    close(channel[0]);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return run;
    const QList<QByteArray> fields = report.trimmed().split(' ');
    if (fields.size() != 3)
        return run;
    run.ms = fields[0].toDouble();
    run.peakMB = fields[1].toDouble() / 1024.0; // kilobytes on Linux
    run.ok = fields[2] == "0";
    return run;
}

// A whole-process job: our command and the peer's, with the targets.
struct Job
{
    QString name;
    QStringList ours;
    QStringList peer;         // empty: no peer job
    QString peerProgram;      // empty: ociobakelut
    double ratioTarget = 0.0; // the peer's time / ours at least this; 0: none
    double rssTargetMB = 0.0; // our peak memory below this; 0: none
    QStringList floor;        // chromaduct-bench-floor's arguments for the same job; empty: none
    std::vector<double> oursMs, peerMs, peakMB, floorMs;
    bool failed = false;
};

QString figure(double value, const char *unit, int decimals = 1)
{
    return value < 0 ? QStringLiteral("FAILED") : QString::number(value, 'f', decimals) + QLatin1String(unit);
}

QString verdict(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("MISSED");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QCommandLineParser parser;
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QString(), QStringLiteral("N"), QStringLiteral("9"));
    const QCommandLineOption batchRoundsOption(QStringLiteral("batch-rounds"), QString(), QStringLiteral("N"),
                                               QStringLiteral("3"));
    const QCommandLineOption noBatchOption(QStringLiteral("no-batch"));
    const QCommandLineOption jsonOption(QStringLiteral("json"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption convertOption(QStringLiteral("convert"), QString(), QStringLiteral("PROGRAM"),
                                           QStringLiteral(CHROMADUCT_CONVERT_PATH));
    parser.addOptions({roundsOption, batchRoundsOption, noBatchOption, jsonOption, convertOption});
    parser.addPositionalArgument(QStringLiteral("ROUNDS"), QString());
    parser.process(app);
    int rounds = std::max(1, parser.value(roundsOption).toInt());
    if (!parser.positionalArguments().isEmpty())
        rounds = std::max(1, parser.positionalArguments().first().toInt());
    const int batchRounds = std::max(1, parser.value(batchRoundsOption).toInt());

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "chromaduct-bench: cannot make a temporary directory\n");
        return 1;
    }
    const auto path = [&dir](const char *name) { return dir.filePath(QLatin1String(name)); };
    Read_LUTFile source65, source33, source32;
    if (!makeCube(65, &source65) || !makeCube(33, &source33) || !makeCube(32, &source32)
        || !writeLut(path("in65.cube"), &source65) || !writeLut(path("in33.cube"), &source33)
        || !writeLut(path("in32.spi3d"), &source32, LutFormatId::Spi3D) || !writeText(path("in33.3dl"), threeDlText(33))
        || !writeText(path("in4101.spi1d"), spi1dText(4101)) || !writeTiledImage(path("tiled4096.png"))) {
        std::fprintf(stderr, "chromaduct-bench: cannot build the test files\n");
        return 1;
    }
    QJsonObject json;
    json.insert(QStringLiteral("rounds"), rounds);
    json.insert(QStringLiteral("processors"), QThread::idealThreadCount());

    // In process.
    const double cubeMB = QFileInfo(path("in65.cube")).size() / 1e6;
    std::printf("In process, median of %d runs:\n", rounds);
    const double readMs = timeMedian(rounds, [&] {
        Read_LUTFile lut;
        LutFileOptions options;
        options.path = path("in65.cube");
        return lut.readLut(options, false) && lut.size3D == 65;
    });
    const double resampleMs = timeMedian(rounds, [&] {
        Read_LUTFile lut;
        return lut.setSize3D(65, false) && LutCalc::resampleCube(&source33, &lut);
    });
    const double writeMs = timeMedian(rounds, [&] { return writeLut(path("written65.cube"), &source65); });
    const double parseRate = readMs > 0 ? cubeMB / (readMs / 1e3) : -1.0;
    const double writeRate = writeMs > 0 ? cubeMB / (writeMs / 1e3) : -1.0;
    std::printf("  %-34s %9s  %-12s %s\n", "read 65-point cube file", qPrintable(figure(readMs, " ms", 2)), "", "");
    std::printf("  %-34s %9s  %-12s %s\n", "  text parse", qPrintable(figure(parseRate, " MB/s", 0)), ">= 600 MB/s",
                qPrintable(verdict(parseRate >= 600)));
    std::printf("  %-34s %9s  %-12s %s\n", "write 65-point cube file", qPrintable(figure(writeMs, " ms", 2)), "", "");
    std::printf("  %-34s %9s  %-12s %s\n", "  six-decimal writing", qPrintable(figure(writeRate, " MB/s", 0)),
                ">= 400 MB/s", qPrintable(verdict(writeRate >= 400)));
    std::printf("  %-34s %9s  %-12s %s\n", "tetrahedral resample 33 -> 65", qPrintable(figure(resampleMs, " ms", 2)),
                "< 4 ms", qPrintable(verdict(resampleMs >= 0 && resampleMs < 4)));
    QJsonObject inProcess;
    inProcess.insert(QStringLiteral("readCube65Ms"), readMs);
    inProcess.insert(QStringLiteral("parseMBps"), parseRate);
    inProcess.insert(QStringLiteral("writeCube65Ms"), writeMs);
    inProcess.insert(QStringLiteral("writeMBps"), writeRate);
    inProcess.insert(QStringLiteral("resample33to65Ms"), resampleMs);
    json.insert(QStringLiteral("inProcess"), inProcess);

    // Whole process, the jobs interleaved round by round.
    const QString convert = parser.value(convertOption);
    json.insert(QStringLiteral("convert"), convert);
    const QString ocio = QStandardPaths::findExecutable(QStringLiteral("ociobakelut"));
    const auto peer = [&](const char *input, const char *format, int cubeSize, const char *output) {
        if (ocio.isEmpty())
            return QStringList();
        QStringList arguments{QStringLiteral("--lut"), path(input), QStringLiteral("--format"), QLatin1String(format)};
        if (cubeSize > 0)
            arguments << QStringLiteral("--cubesize") << QString::number(cubeSize);
        return arguments << path(output);
    };
    const auto job = [](const QString &name, const QStringList &ours, const QStringList &peerArguments, double ratio,
                        double rssMB) {
        Job made;
        made.name = name;
        made.ours = ours;
        made.peer = peerArguments;
        made.ratioTarget = ratio;
        made.rssTargetMB = rssMB;
        return made;
    };
    const auto floorJob = [&path](const char *input, int size, const char *output) {
        return QStringList{path(input), path(output), QString::number(size)};
    };
    std::vector<Job> jobs = {
        job(QStringLiteral("65 -> 33 cube"), {path("in65.cube"), path("o1.cube"), QStringLiteral("--size"), QStringLiteral("33")},
         peer("in65.cube", "iridas_cube", 33, "p1.cube"), 12.0, 40.0),
        job(QStringLiteral("65 -> 65 cube"), {path("in65.cube"), path("o2.cube")}, peer("in65.cube", "iridas_cube", 65, "p2.cube"),
         12.0, 0.0),
        job(QStringLiteral("33 -> 65 cube"), {path("in33.cube"), path("o3.cube"), QStringLiteral("--size"), QStringLiteral("65")},
         peer("in33.cube", "iridas_cube", 65, "p3.cube"), 10.0, 0.0),
        job(QStringLiteral("33-point 3dl -> cube"), {path("in33.3dl"), path("o4.cube")},
         peer("in33.3dl", "iridas_cube", 33, "p4.cube"), 6.0, 0.0),
        job(QStringLiteral("32-point spi3d -> cube"), {path("in32.spi3d"), path("o5.cube")},
         peer("in32.spi3d", "iridas_cube", 32, "p5.cube"), 3.0, 0.0),
        job(QStringLiteral("4101 spi1d -> Discreet 1D"),
         {QStringLiteral("--to"), QStringLiteral("discreet1d"), path("in4101.spi1d"), path("o6.lut")},
         peer("in4101.spi1d", "resolve_cube", 0, "p6.cube"), 1.5, 0.0),
        job(QStringLiteral("  the same, 4096 entries"),
         {QStringLiteral("--to"), QStringLiteral("discreet1d"), QStringLiteral("--size"), QStringLiteral("4096"),
          path("in4101.spi1d"), path("o6b.lut")},
         peer("in4101.spi1d", "resolve_cube", 0, "p6b.cube"), 1.5, 0.0),
        job(QStringLiteral("65 -> 33 cube --plain"),
         {QStringLiteral("--plain"), path("in65.cube"), path("o7.cube"), QStringLiteral("--size"), QStringLiteral("33")},
         {}, 0.0, 0.0),
        job(QStringLiteral("4096x4096 tiled image -> 33"),
         {path("tiled4096.png"), path("o8.cube"), QStringLiteral("--size"), QStringLiteral("33")}, {}, 0.0, 350.0),
    };
    jobs[0].floor = floorJob("in65.cube", 33, "f1.cube");
    jobs[1].floor = floorJob("in65.cube", 65, "f2.cube");
    jobs[2].floor = floorJob("in33.cube", 65, "f3.cube");
    // --apply on 3840 x 2160 pictures beside ocioconvert --lut: a 16-bit
    // TIFF of a gradient and the same picture as a half-float EXR (made by
    // --apply of an identity cube).
    const QString ocioconvert = QStandardPaths::findExecutable(QStringLiteral("ocioconvert"));
    {
        QImage picture(3840, 2160, QImage::Format_RGBX64);
        for (int y = 0; y < picture.height(); ++y) {
            auto *line = reinterpret_cast<QRgba64 *>(picture.scanLine(y));
            for (int x = 0; x < picture.width(); ++x)
                line[x] = QRgba64::fromRgba64(quint16(x * 17), quint16(y * 30), quint16((x + y) * 11), 65535);
        }
        picture.save(path("picture16.tif"));
        QFile identity(path("identity.cube"));
        if (identity.open(QIODevice::WriteOnly))
            identity.write("LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n");
        identity.close();
        runProgram(convert, {QStringLiteral("--apply"), path("identity.cube"), path("picture16.tif"), path("picture-half.exr")});
    }
    for (const auto &[name, input, output] : {std::array<const char *, 3>{"--apply 3840x2160 16-bit TIFF", "picture16.tif", "a1.tif"},
                                              std::array<const char *, 3>{"--apply 3840x2160 half EXR", "picture-half.exr", "a2.exr"}}) {
        Job picture = job(QLatin1String(name), {QStringLiteral("--apply"), path("in33.cube"), path(input), path(output)},
                          ocioconvert.isEmpty() ? QStringList()
                                                : QStringList{QStringLiteral("--lut"), path("in33.cube"), path(input),
                                                              dir.filePath(QStringLiteral("peer-") + QLatin1String(output))},
                          3.0, 0.0);
        picture.peerProgram = ocioconvert;
        jobs.push_back(picture);
    }
    std::vector<double> startup, emptyStartup;
    for (int round = 0; round < rounds; ++round) {
        for (Job &job : jobs) {
            const Run ours = runProgram(convert, job.ours);
            job.failed = job.failed || !ours.ok;
            job.oursMs.push_back(ours.ms);
            job.peakMB.push_back(ours.peakMB);
            if (!job.peer.isEmpty()) {
                const Run theirs = runProgram(job.peerProgram.isEmpty() ? ocio : job.peerProgram, job.peer);
                job.failed = job.failed || !theirs.ok;
                job.peerMs.push_back(theirs.ms);
            }
            if (!job.floor.isEmpty()) {
                const Run floor = runProgram(QStringLiteral(CHROMADUCT_BENCH_FLOOR_PATH), job.floor);
                job.failed = job.failed || !floor.ok;
                job.floorMs.push_back(floor.ms);
            }
        }
        for (int i = 0; i < 5; ++i) {
            const Run run = runProgram(convert, {QStringLiteral("--formats")});
            if (run.ok)
                startup.push_back(run.ms);
            const Run empty = runProgram(QStringLiteral(CHROMADUCT_BENCH_EMPTY_PATH), {});
            if (empty.ok)
                emptyStartup.push_back(empty.ms);
        }
    }

    std::printf("Whole process, median of %d interleaved rounds (peer: ociobakelut%s; for --apply, ocioconvert%s):\n",
                rounds, ocio.isEmpty() ? ", not found on PATH" : "", ocioconvert.isEmpty() ? ", not found on PATH" : "");
    std::printf("  %-30s %9s %9s %8s %8s %9s %8s  %s\n", "job", "ours", "peer", "ratio", "target", "peak RSS",
                "target", "");
    QJsonArray jobArray, floorArray;
    double plainMs = -1.0, meaningMs = -1.0; // --plain, and the default reading of what the file means
    bool anyFailed = false;
    for (const Job &job : jobs) {
        const double ours = job.failed ? -1.0 : median(job.oursMs);
        const double theirs = job.failed || job.peerMs.empty() ? -1.0 : median(job.peerMs);
        const double peak = *std::max_element(job.peakMB.begin(), job.peakMB.end());
        const double ratio = ours > 0 && theirs > 0 ? theirs / ours : -1.0;
        const bool ratioMet = job.ratioTarget <= 0 || (ratio > 0 && ratio >= job.ratioTarget);
        const bool rssMet = job.rssTargetMB <= 0 || (!job.failed && peak < job.rssTargetMB);
        const bool met = !job.failed && rssMet && (ocio.isEmpty() || ratioMet);
        anyFailed = anyFailed || job.failed;
        std::printf("  %-30s %9s %9s %8s %8s %9s %8s  %s\n", qPrintable(job.name), qPrintable(figure(ours, " ms")),
                    qPrintable(job.peer.isEmpty() ? QStringLiteral("-") : figure(theirs, " ms")),
                    qPrintable(ratio > 0 ? figure(ratio, "x") : QStringLiteral("-")),
                    qPrintable(job.ratioTarget > 0 ? QStringLiteral(">= %1x").arg(job.ratioTarget) : QStringLiteral("-")),
                    qPrintable(figure(peak, " MB")),
                    qPrintable(job.rssTargetMB > 0 ? QStringLiteral("< %1 MB").arg(job.rssTargetMB) : QStringLiteral("-")),
                    qPrintable(verdict(met)));
        if (job.name == QLatin1String("65 -> 33 cube"))
            meaningMs = ours;
        if (job.name == QLatin1String("65 -> 33 cube --plain"))
            plainMs = ours;
        QJsonObject entry;
        entry.insert(QStringLiteral("job"), job.name);
        entry.insert(QStringLiteral("oursMs"), ours);
        entry.insert(QStringLiteral("peerMs"), theirs);
        entry.insert(QStringLiteral("ratio"), ratio);
        entry.insert(QStringLiteral("ratioTarget"), job.ratioTarget);
        entry.insert(QStringLiteral("peakRssMB"), peak);
        entry.insert(QStringLiteral("rssTargetMB"), job.rssTargetMB);
        entry.insert(QStringLiteral("met"), met);
        jobArray.append(entry);
    }
    json.insert(QStringLiteral("jobs"), jobArray);
    // The floor: the same cube jobs done by a program that does only them.
    double floor6533Ms = -1.0;
    for (const Job &job : jobs) {
        if (job.floor.isEmpty())
            continue;
        const double ours = job.failed ? -1.0 : median(job.oursMs);
        const double floor = job.failed ? -1.0 : median(job.floorMs);
        const double ratio = ours > 0 && floor > 0 ? ours / floor : -1.0;
        if (job.name == QLatin1String("65 -> 33 cube"))
            floor6533Ms = floor;
        std::printf("  %-30s %9s %27s %8s  %s\n", qPrintable(QStringLiteral("floor: ") + job.name),
                    qPrintable(figure(floor, " ms")), qPrintable(QStringLiteral("ours / it: %1").arg(figure(ratio, "x", 2))),
                    "<= 1.5x", qPrintable(verdict(ratio > 0 && ratio <= 1.5)));
        QJsonObject entry;
        entry.insert(QStringLiteral("job"), job.name);
        entry.insert(QStringLiteral("floorMs"), floor);
        entry.insert(QStringLiteral("oursOverFloor"), ratio);
        floorArray.append(entry);
    }
    json.insert(QStringLiteral("floor"), floorArray);
    if (plainMs > 0 && meaningMs > 0)
        std::printf("  ratio default / --plain: %.2fx (target: 1.5x or less)\n", meaningMs / plainMs);
    json.insert(QStringLiteral("defaultOverPlain"), plainMs > 0 && meaningMs > 0 ? meaningMs / plainMs : -1.0);
    const double startupMs = median(startup);
    std::printf("  %-30s %9s %27s %8s  %s\n", "start-up (--formats)", qPrintable(figure(startupMs, " ms", 2)), "",
                "<= 2.5 ms", qPrintable(verdict(startupMs > 0 && startupMs <= 2.5)));
    json.insert(QStringLiteral("startupMs"), startupMs);
    // The same libraries loaded by a program that does nothing.
    const double emptyMs = median(emptyStartup);
    const double startupRatio = startupMs > 0 && emptyMs > 0 ? startupMs / emptyMs : -1.0;
    std::printf("  %-30s %9s %27s %8s  %s\n", "empty program linked to Qt Core", qPrintable(figure(emptyMs, " ms", 2)),
                qPrintable(QStringLiteral("ours / it: %1").arg(figure(startupRatio, "x", 2))), "<= 1.2x",
                qPrintable(verdict(startupRatio > 0 && startupRatio <= 1.2)));
    json.insert(QStringLiteral("emptyQtProgramMs"), emptyMs);
    json.insert(QStringLiteral("startupOverEmpty"), startupRatio);

    // The batch: 64 inputs (links to the 65-point cube) to 33 points.
    if (!parser.isSet(noBatchOption)) {
        const QString batchDir = path("batch");
        QDir().mkpath(batchDir);
        QStringList inputs;
        for (int i = 0; i < 64; ++i) {
            const QString input = QDir(batchDir).filePath(QStringLiteral("c%1.cube").arg(i, 2, 10, QLatin1Char('0')));
            QFile::link(path("in65.cube"), input);
            inputs << input;
        }
        const QString out = path("batch-out");
        const auto batch = [&](const QString &jobs) {
            QStringList arguments{QStringLiteral("--out-dir"), out, QStringLiteral("--size"), QStringLiteral("33")};
            if (!jobs.isEmpty())
                arguments << QStringLiteral("-j") << jobs;
            return arguments + inputs;
        };
        const QString loop = QStringLiteral("for f in '%1'/*.cube; do '%2' --lut \"$f\" --format iridas_cube --cubesize 33 "
                                            "'%3'/\"$(basename \"$f\")\" || exit 1; done")
                                 .arg(batchDir, ocio, out);
        std::vector<double> serial, parallel, shell;
        double serialPeak = 0, parallelPeak = 0;
        bool batchOk = true;
        for (int round = 0; round < batchRounds; ++round) {
            const Run one = runProgram(convert, batch(QStringLiteral("1")));
            const Run all = runProgram(convert, batch(QString()));
            batchOk = batchOk && one.ok && all.ok;
            serial.push_back(one.ms);
            parallel.push_back(all.ms);
            serialPeak = std::max(serialPeak, one.peakMB);
            parallelPeak = std::max(parallelPeak, all.peakMB);
            if (!ocio.isEmpty()) {
                const Run theirs = runProgram(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), loop});
                batchOk = batchOk && theirs.ok;
                shell.push_back(theirs.ms);
            }
        }
        const double serialMs = batchOk ? median(serial) : -1.0;
        const double parallelMs = batchOk ? median(parallel) : -1.0;
        const double shellMs = batchOk && !shell.empty() ? median(shell) : -1.0;
        const double speedup = serialMs > 0 && parallelMs > 0 ? serialMs / parallelMs : -1.0;
        std::printf("Batch of 64 65-point cubes to 33 points, median of %d rounds (%d processors):\n", batchRounds,
                    QThread::idealThreadCount());
        std::printf("  %-34s %10s  peak RSS %s\n", "chromaduct-convert -j 1", qPrintable(figure(serialMs, " ms", 0)),
                    qPrintable(figure(serialPeak, " MB")));
        std::printf("  %-34s %10s  peak RSS %s\n", "chromaduct-convert (default -j)",
                    qPrintable(figure(parallelMs, " ms", 0)), qPrintable(figure(parallelPeak, " MB")));
        std::printf("  %-34s %10s\n", "shell loop of ociobakelut",
                    qPrintable(ocio.isEmpty() ? QStringLiteral("-") : figure(shellMs, " ms", 0)));
        std::printf("  default / -j 1: %.2fx faster (target: 1.7x or more) %s\n", speedup,
                    qPrintable(verdict(speedup >= 1.7)));
        const double perCubeOverFloor = serialMs > 0 && floor6533Ms > 0 ? serialMs / 64.0 / floor6533Ms : -1.0;
        std::printf("  -j 1 per cube / the floor's 65 -> 33 job: %.2fx (target: 1.5x or less) %s\n", perCubeOverFloor,
                    qPrintable(verdict(perCubeOverFloor > 0 && perCubeOverFloor <= 1.5)));
        if (shellMs > 0 && parallelMs > 0)
            std::printf("  ratio shell loop / default: %.1fx\n", shellMs / parallelMs);
        QJsonObject batchJson;
        batchJson.insert(QStringLiteral("rounds"), batchRounds);
        batchJson.insert(QStringLiteral("serialMs"), serialMs);
        batchJson.insert(QStringLiteral("defaultMs"), parallelMs);
        batchJson.insert(QStringLiteral("peerLoopMs"), shellMs);
        batchJson.insert(QStringLiteral("speedup"), speedup);
        batchJson.insert(QStringLiteral("speedupTarget"), 1.7);
        batchJson.insert(QStringLiteral("serialPerCubeOverFloor"), perCubeOverFloor);
        json.insert(QStringLiteral("batch"), batchJson);
    }

    if (parser.isSet(jsonOption)) {
        QFile file(parser.value(jsonOption));
        if (!file.open(QIODevice::WriteOnly)
            || file.write(QJsonDocument(json).toJson()) < 0) {
            std::fprintf(stderr, "chromaduct-bench: cannot write %s\n", qPrintable(parser.value(jsonOption)));
            return 1;
        }
    }
    return anyFailed ? 1 : 0;
}
