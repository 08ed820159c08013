#include "cli/ConvertCommand.h"
#include "lut/LutFileNames.h"
#include "lut/LutImageCodec.h"
#include "lut/LutLog.h"
#include "lut/LutMemory.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    // A standard stream that is closed (">&-") is held by /dev/null opened
    // for reading, before anything else can take its number: the first file
    // opened would get it, and standard output would write into that file.
    // Writes to it fail, and standard output says it is not open for writing.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0)
            continue;
        const int held = ::open("/dev/null", O_RDONLY);
        if (held >= 0 && held != fd) {
            ::dup2(held, fd);
            ::close(held);
        }
    }
    // A reader that goes away (a pipe into "head") makes a write fail with
    // "Broken pipe", which the writer reports, instead of ending the
    // program without a word.
    std::signal(SIGPIPE, SIG_IGN);
    // The memory one input of a batch frees stays for the next one.
    LutMemory::keepHeap();
    // --preview draws captions, which takes fonts: its program is a
    // QGuiApplication (without a display); every other use needs Qt Core only.
    bool drawsText = false;
    for (int i = 1; i < argc; ++i)
        drawsText = drawsText || std::strcmp(argv[i], "--preview") == 0 || std::strncmp(argv[i], "--preview=", 10) == 0;
    const std::unique_ptr<QCoreApplication> app = LutImageCodec::application(argc, argv, drawsText);
    // The readers' diagnostics ("file:-----" ...) would drown the one-line
    // messages on stderr, which say all there is to say; QT_LOGGING_RULES or
    // QT_LOGGING_CONF can still turn them back on (the environment's rules
    // come after the program's). Without either nothing can, and they are
    // silenced without reading the rules at all. The toolkit's warnings stay
    // visible.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES") && qEnvironmentVariableIsEmpty("QT_LOGGING_CONF"))
        LutLog::silence();
    else
        QLoggingCategory::setFilterRules(QStringLiteral("chromaduct.*=false"));
    // The arguments as the system gave them: a file name that is not UTF-8
    // keeps its bytes (QCoreApplication::arguments() would replace them).
    const int status = ConvertCommand::run(LutFileNames::arguments(argc, argv));
#ifndef LUT_ADDRESS_SANITIZER
    // Every output is in place and on disk, and standard output has been
    // flushed and checked. What is left is freeing memory and the libraries'
    // exit handlers (Qt Core's and those of the libraries it loads), which
    // touch pages of them not used before: 1.5 ms a run on a virtual machine
    // where a fresh page costs 12 us. The system frees it all at once.
    std::fflush(nullptr);
    ::_exit(status);
#else
    return status;
#endif
}
