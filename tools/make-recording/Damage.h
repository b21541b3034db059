#pragma once

#include <string>

// File-level damage asked for on the command line.
struct Damage {
    int garbageEvery = 0; // junk bytes after every n-th data page
    int badCrcPage = -1;  // index of the page whose checksum is wrong (-2: a middle data page)
    bool truncateLastPage = false;
    bool noOggsStart = false;  // junk before the first page
    long long truncateAt = -1; // cut the file to this many bytes
};
