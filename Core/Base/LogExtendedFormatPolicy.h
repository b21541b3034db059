#pragma once

#include "Core/Base/LogLevel.h"
#include "Core/Base/SourceInfo.h"

namespace Harbend {

class LogExtendedFormatPolicy {
public:
    // Writes "time :: level :: [file(line): name] message", cut to size - 1 bytes.
    void format(char* buffer, unsigned size, const char* message, const char* name, const SourceInfo& source,
                LogLevel::Enum level) const;
};

} // namespace Harbend
