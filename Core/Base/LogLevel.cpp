#include "Core/Base/LogLevel.h"

namespace Harbend {
namespace LogLevel {

const char* name(Enum level)
{
    static const char* const names[17] = {"FATAL", "DEBUG", "INFO", "", "SUCCESS", "", "", "",     "WARNING",
                                          "",      "",      "",     "", "",        "", "", "ERROR"};
    const unsigned index = static_cast<unsigned>(level);
    return index < 17 ? names[index] : "";
}

} // namespace LogLevel
} // namespace Harbend
