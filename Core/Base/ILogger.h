#pragma once

#include "Core/Base/LogLevel.h"
#include "Core/Base/SourceInfo.h"

namespace Harbend {
namespace Logging {

class ILogger {
public:
    virtual ~ILogger() {}
    virtual bool filter(LogLevel::Enum level) = 0;
    virtual void log(const char* name, const SourceInfo& source, LogLevel::Enum level, const char* message) = 0;
};

} // namespace Logging
} // namespace Harbend
