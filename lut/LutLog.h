#pragma once

#include <QLoggingCategory>

// The readers' diagnostics (the lines they skip, the keywords they see), in
// a logging category of their own, "chromaduct.read", written as
// lutReadDebug() << ...: the command line silences it, since its one-line
// messages say all a user needs, and QT_LOGGING_RULES or QT_LOGGING_CONF can
// turn it back on. The toolkit's own warnings are not in it.
Q_DECLARE_LOGGING_CATEGORY(lcLutRead)

namespace LutLog {

// Turns the readers' diagnostics off without asking the toolkit's logging
// rules: the category is then never made, and the rules are never read
// (reading them looks for configuration files and sets up the locale's
// text codec, a millisecond of a command-line run). For a program that
// would turn the category off anyway and where no environment rule can
// turn it back on.
void silence();
bool silenced();

} // namespace LutLog

#define lutReadDebug()                                                                                                 \
    for (bool lutReadOn = !LutLog::silenced(); lutReadOn; lutReadOn = false)                                           \
    qCDebug(lcLutRead)
