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
    // Changed by openFile() and close() on the GUI thread, while no other
    // thread logs; write() comes from any thread, and stdio locks the file
    // for each line.
    std::FILE* file = nullptr;
    bool open = false;
};

} // namespace Harbend
