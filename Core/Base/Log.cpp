#include "Core/Base/Log.h"

#include "Core/Base/Logger.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace Harbend {
namespace Logging {

namespace {
// Constant-initialised, so it is valid before and after every static object.
std::atomic<bool> g_loggerDestroyed{false};
} // namespace

void markLoggerDestroyed() { g_loggerDestroyed.store(true); }

bool isLoggerDestroyed() { return g_loggerDestroyed.load(); }

ILogger* Log::systemLogger() { return SystemLogger::get(); }

void Log::log(const SourceInfo& source, LogLevel::Enum level, const char* format, ...) const
{
    if (!logger || isLoggerDestroyed() || !logger->filter(level))
        return;
    char message[1024];
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    if (written < 0)
        return;
    logger->log(name, source, level, message);
}

} // namespace Logging
} // namespace Harbend
