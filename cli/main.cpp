#include "cli/ConvertCommand.h"

#include <QCoreApplication>
#include <QLoggingCategory>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The readers' debug log ("file:-----" ...) would drown the one-line
    // messages on stderr; QT_LOGGING_RULES can still turn it back on.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    return ConvertCommand::run(QCoreApplication::arguments());
}
