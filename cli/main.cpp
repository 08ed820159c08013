#include "cli/ConvertCommand.h"

#include <QCoreApplication>
#include <QLoggingCategory>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The readers' diagnostics ("file:-----" ...) would drown the one-line
    // messages on stderr, which say all there is to say; QT_LOGGING_RULES can
    // still turn them back on. The toolkit's warnings stay visible.
    QLoggingCategory::setFilterRules(QStringLiteral("chromaduct.*=false"));
    return ConvertCommand::run(QCoreApplication::arguments());
}
