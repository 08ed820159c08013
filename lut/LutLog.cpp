#include "lut/LutLog.h"

#include <atomic>

Q_LOGGING_CATEGORY(lcLutRead, "chromaduct.read")

namespace LutLog {

namespace {
std::atomic<bool> g_silenced{false};
}

void silence()
{
    g_silenced.store(true, std::memory_order_relaxed);
}

bool silenced()
{
    return g_silenced.load(std::memory_order_relaxed);
}

} // namespace LutLog
