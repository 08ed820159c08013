#pragma once

#include <QStringList>

namespace ConvertCommand {
// Runs chromaduct-convert with the given arguments (program name first) and
// returns the exit status.
int run(const QStringList &arguments);
}
