#pragma once

namespace Harbend {

// Where a log call stands: the source as the project names it, and the line.
struct SourceInfo {
    const char* file;
    unsigned line;
};

} // namespace Harbend
