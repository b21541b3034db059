#pragma once

#include "Core/Base/ILogger.h"
#include "Core/Base/LogExtendedFormatPolicy.h"
#include "Core/Base/LogFilterPolicy.h"
#include "Core/Base/LogWriteComposite.h"
#include "Core/Base/LogWriteConsole.h"
#include "Core/Base/LogWriteFile.h"

namespace Harbend {
namespace Logging {

// Marks the singleton's end, so that a static logger used during static
// destruction writes nothing instead of reaching a destroyed object.
void markLoggerDestroyed();
bool isLoggerDestroyed();

template <class FilterPolicy, class FormatPolicy, class WritePolicy>
class Logger : public ILogger {
public:
    static Logger* get()
    {
        static Logger ms_instance;
        return &ms_instance;
    }

    ~Logger() override { markLoggerDestroyed(); }

    bool filter(LogLevel::Enum level) override { return m_filter.filter(level); }

    void log(const char* name, const SourceInfo& source, LogLevel::Enum level, const char* message) override
    {
        char line[1024];
        m_format.format(line, sizeof line, message, name, source, level);
        m_write.write(line);
    }

    typedef WritePolicy Writer;
    WritePolicy& writer() { return m_write; }

private:
    Logger() {}

    FilterPolicy m_filter;
    FormatPolicy m_format;
    WritePolicy m_write;
};

typedef Logger<LogFilterPolicy, LogExtendedFormatPolicy, LogWriteComposite<LogWriteFile, LogWriteConsole>> SystemLogger;

} // namespace Logging
} // namespace Harbend
