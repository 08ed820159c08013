#include "cli/ConvertCommand.h"

int ConvertCommand::run(const QStringList &)
{
    return 64;
}
