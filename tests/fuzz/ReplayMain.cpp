// chromaduct-fuzz-replay: the fuzz entry point with a main of its own, built
// with the normal compiler. It runs inputs through the same entry point as
// the fuzzer, each within 4 s of processor time (not wall time, so that a
// busy machine running tests in parallel does not fail it; the largest LUT
// images take 1.4 s, half of it the kernel's page faults, which grow on a
// loaded virtual machine; 300 s in a build with the sanitizers, where the
// 4096 x 4096 Hald PNG seed, a 256-point cube, has taken more than a minute
// on some of these virtual machines, nearly all of it ASan's shadow loads,
// one 4 KiB shadow page after another, and under 2 s on others), so every input
// that ever broke a reader (tests/fuzz/regressions/) runs in the test suite,
// under the sanitizers too. It also writes the fuzzer's seeds.

#include "FuzzTarget.h"
#include "Seeds.h"

#include "lut/LutFormats.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/time.h>
#include <unistd.h>

namespace {

#ifdef CHROMADUCT_SANITIZED
#define CHROMADUCT_REPLAY_SECONDS 300
#else
#define CHROMADUCT_REPLAY_SECONDS 4
#endif
#define CHROMADUCT_TEXT(x) CHROMADUCT_TEXT_OF(x)
#define CHROMADUCT_TEXT_OF(x) #x
constexpr long kSecondsPerInput = CHROMADUCT_REPLAY_SECONDS;
char g_current[4096] = "";

void onTimeout(int)
{
    static const char prefix[] = "chromaduct-fuzz-replay: ";
    static const char suffix[] = ": took more than " CHROMADUCT_TEXT(CHROMADUCT_REPLAY_SECONDS) " s of processor time\n";
    (void)!::write(STDERR_FILENO, prefix, sizeof prefix - 1);
    (void)!::write(STDERR_FILENO, g_current, std::strlen(g_current));
    (void)!::write(STDERR_FILENO, suffix, sizeof suffix - 1);
    ::_exit(1);
}

// The reader for a file: the one given, else the catalogue name the file
// name starts with ("csvlog-...", "tiled-image-..."), else the one its
// extension selects.
const LutFormat *formatFor(const QString &path, const LutFormat *given)
{
    if (given)
        return given;
    const QString name = QFileInfo(path).fileName();
    const LutFormat *best = nullptr;
    for (int id = 0; id < LutFormats::kCount; ++id) {
        const LutFormat *format = LutFormats::byId(id);
        const QString prefix = QLatin1String(format->name) + QLatin1Char('-');
        if (name.startsWith(prefix) && (!best || qstrlen(best->name) < qstrlen(format->name)))
            best = format;
    }
    return best ? best : LutFormats::forInput(path);
}

// The files to replay: each path, or the files of each folder, in name order.
QStringList filesOf(const QStringList &paths)
{
    QStringList files;
    for (const QString &path : paths) {
        if (QFileInfo(path).isDir()) {
            const QDir dir(path);
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
                files << dir.filePath(name);
        } else {
            files << path;
        }
    }
    return files;
}

// Whether a file goes to the picture reader: asked for, or named
// "picture-..." with no reader given.
bool isPicture(const QString &path, const LutFormat *given, bool picture)
{
    return picture || (!given && QFileInfo(path).fileName().startsWith(QLatin1String(FuzzTarget::kPictureReader) + QLatin1Char('-')));
}

// Runs every file through the entry point (through the picture reader when
// picture is set). Returns the number of files that did not read though
// they must (readable seeds), or -1 when a file cannot be opened.
int replay(const QStringList &files, const LutFormat *given, bool picture, bool quiet)
{
    std::signal(SIGPROF, onTimeout);
    itimerval limit = {};
    int refused = 0;
    for (const QString &path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "chromaduct-fuzz-replay: %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
            return -1;
        }
        const QByteArray data = file.readAll();
        if (isPicture(path, given, picture))
            FuzzTarget::setPicture();
        else
            FuzzTarget::setFormat(formatFor(path, given));
        qstrncpy(g_current, QFile::encodeName(path).constData(), sizeof g_current);
        limit.it_value.tv_sec = kSecondsPerInput;
        ::setitimer(ITIMER_PROF, &limit, nullptr);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size()));
        limit.it_value.tv_sec = 0;
        ::setitimer(ITIMER_PROF, &limit, nullptr);
        const FuzzTarget::Outcome &outcome = FuzzTarget::lastOutcome();
        const bool mustRead = QFileInfo(path).fileName().startsWith(QLatin1String(FuzzSeeds::kReadablePrefix));
        if (mustRead && !outcome.read)
            ++refused;
        if (!quiet || (mustRead && !outcome.read))
            std::printf("%-11s %s: %s\n", outcome.reader, qPrintable(path),
                        outcome.read ? "read" : qPrintable(QStringLiteral("refused: ") + outcome.reason));
    }
    return refused;
}

// The names of the formats this build can read, one a line.
void listReaders()
{
    // A row that shares an earlier row's reader (flame: the 3dl reader) is
    // fuzzed as that row.
    for (int id = 0; id < LutFormats::kCount; ++id) {
        const LutFormat *format = LutFormats::byId(id);
        bool shared = false;
        for (int earlier = 0; earlier < id; ++earlier)
            shared = shared || LutFormats::byId(earlier)->reader == format->reader;
        if (format->canRead() && !shared)
            std::printf("%s\n", format->name);
    }
    std::printf("%s\n", FuzzTarget::kPictureReader);
}

// Writes the seeds into a scratch folder and replays them: the readable
// ones must read, and no seed may crash or hang a reader.
int checkSeeds()
{
    QTemporaryDir dir;
    const int written = FuzzSeeds::write(dir.path());
    if (written <= 0) {
        std::fprintf(stderr, "chromaduct-fuzz-replay: cannot write the seeds\n");
        return 1;
    }
    int refused = 0;
    for (int id = 0; id < LutFormats::kCount; ++id) {
        const LutFormat *format = LutFormats::byId(id);
        const QString folder = dir.filePath(QLatin1String(format->name));
        const int r = replay(filesOf({folder}), format, false, true);
        if (r < 0)
            return 1;
        refused += r;
    }
    const int pictures = replay(filesOf({dir.filePath(QLatin1String(FuzzTarget::kPictureReader))}), nullptr, true, true);
    if (pictures < 0)
        return 1;
    refused += pictures;
    std::printf("%d seeds replayed, %d readable ones refused\n", written, refused);
    return refused == 0 ? 0 : 1;
}

void usage()
{
    std::fprintf(stderr,
                 "usage: chromaduct-fuzz-replay [--format NAME] PATH...   replay files (folders: their files)\n"
                 "       chromaduct-fuzz-replay --write-seeds DIR [--corpus DIR]\n"
                 "       chromaduct-fuzz-replay --check-seeds\n"
                 "       chromaduct-fuzz-replay --list-readers\n");
}

} // namespace

int main(int argc, char *argv[])
{
    FuzzTarget::initialise(&argc, &argv);
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    if (args.value(0) == QLatin1String("--list-readers")) {
        listReaders();
        return 0;
    }
    if (args.value(0) == QLatin1String("--check-seeds"))
        return checkSeeds();
    if (args.value(0) == QLatin1String("--write-seeds") && (args.size() == 2 || args.size() == 4)) {
        const int written = FuzzSeeds::write(args[1]);
        if (written < 0) {
            std::fprintf(stderr, "chromaduct-fuzz-replay: cannot write the seeds into %s\n", qPrintable(args[1]));
            return 1;
        }
        const int copied = args.size() == 4 && args[2] == QLatin1String("--corpus") ? FuzzSeeds::copyCorpus(args[1], args[3]) : 0;
        std::printf("%d seeds written, %d corpus files copied\n", written, copied);
        return 0;
    }

    const LutFormat *given = nullptr;
    bool picture = false;
    if (args.value(0) == QLatin1String("--format")) {
        picture = args.value(1) == QLatin1String(FuzzTarget::kPictureReader);
        given = picture ? nullptr : LutFormats::byName(args.value(1));
        if (!picture && (!given || !given->canRead())) {
            usage();
            return 64;
        }
        args = args.mid(2);
    }
    if (args.isEmpty() || args.first().startsWith(QLatin1String("--"))) {
        usage();
        return 64;
    }
    const QStringList files = filesOf(args);
    if (files.isEmpty()) {
        std::fprintf(stderr, "chromaduct-fuzz-replay: no files to replay\n");
        return 1;
    }
    const int refused = replay(files, given, picture, false);
    if (refused < 0)
        return 1;
    std::printf("%d inputs replayed within %ld s each\n", int(files.size()), kSecondsPerInput);
    return 0;
}
