#include "Core/Base/LogWriteConsole.h"

#include <cstdio>

namespace Harbend {

void LogWriteConsole::write(const char* line)
{
    std::puts(line);
    std::fflush(stdout);
}

} // namespace Harbend
