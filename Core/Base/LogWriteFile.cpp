#include "Core/Base/LogWriteFile.h"

namespace Harbend {

bool LogWriteFile::openFile(const char* path)
{
    close();
    file = std::fopen(path, "w");
    open = file != nullptr;
    return open;
}

void LogWriteFile::write(const char* line)
{
    if (!open)
        return;
    std::fprintf(file, "%s\n", line);
    // Flushed per line so that a crash loses nothing already logged.
    std::fflush(file);
}

void LogWriteFile::close()
{
    if (!open)
        return;
    std::fclose(file);
    file = nullptr;
    open = false;
}

} // namespace Harbend
