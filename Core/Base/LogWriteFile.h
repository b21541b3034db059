#pragma once

#include <cstdio>

namespace Harbend {

class LogWriteFile {
public:
    // Opens for writing, emptying an existing file.
    bool openFile(const char* path);
    void write(const char* line);
    void close();
    bool isOpen() const { return open; }

private:
    std::FILE* file = nullptr;
    bool open = false;
};

} // namespace Harbend
