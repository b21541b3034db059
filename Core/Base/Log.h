#pragma once

#include "Core/Base/ILogger.h"
#include "Core/Base/LogLevel.h"
#include "Core/Base/SourceInfo.h"

namespace Harbend {
namespace Logging {

// The static logger of one class: a name and the singleton it writes through.
class Log {
public:
    Log(const char* name, ILogger* logger) : logger(logger), name(name) {}

    // Lines past 1023 bytes are cut; a format that fails is dropped.
    void log(const SourceInfo& source, LogLevel::Enum level, const char* format, ...) const
        __attribute__((format(printf, 4, 5)));

    // The system's singleton, for the loggers of the engine's classes.
    static ILogger* systemLogger();

private:
    ILogger* logger;
    const char* name;
};

} // namespace Logging
} // namespace Harbend

// Logs through the class's ms_log; the source file defines kLogSource with
// its project name (for example "Core/Base/Processor").
#define HARBEND_LOG(level, ...) HARBEND_LOG_THROUGH(ms_log, kLogSource, level, __VA_ARGS__)

// Logs through a given logger, in the name of a given source file.
#define HARBEND_LOG_THROUGH(logger, source, level, ...)                                                                \
    (logger).log(::Harbend::SourceInfo{source, static_cast<unsigned>(__LINE__)}, ::Harbend::LogLevel::level,           \
                 __VA_ARGS__)
