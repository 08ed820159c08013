#include "lut/LutLog.h"

Q_LOGGING_CATEGORY(lcLutRead, "chromaduct.read")
