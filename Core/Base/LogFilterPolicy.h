#pragma once

#include "Core/Base/LogLevel.h"

namespace Harbend {

class LogFilterPolicy {
public:
    bool filter(LogLevel::Enum level) const
    {
        return (mask & static_cast<unsigned>(level)) != 0 || level == LogLevel::Fatal;
    }

private:
    unsigned mask = 31;
};

} // namespace Harbend
