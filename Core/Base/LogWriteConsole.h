#pragma once

namespace Harbend {

class LogWriteConsole {
public:
    void write(const char* line);
};

} // namespace Harbend
