#include "cli/ConvertCommand.h"

#include <QCoreApplication>
#include <QLoggingCategory>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The readers' debug log ("file:-----" ...) and the toolkit's warnings
    // would drown the one-line messages on stderr, which say all there is to
    // say; QT_LOGGING_RULES can still turn them back on.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false\n*.warning=false\n*.critical=false"));
    return ConvertCommand::run(QCoreApplication::arguments());
}
