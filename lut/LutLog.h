#pragma once

#include <QLoggingCategory>

// The readers' diagnostics (the lines they skip, the keywords they see), in
// a logging category of their own, "chromaduct.read": the command line
// silences it, since its one-line messages say all a user needs, and
// QT_LOGGING_RULES can turn it back on. The toolkit's own warnings are not
// in it.
Q_DECLARE_LOGGING_CATEGORY(lcLutRead)
