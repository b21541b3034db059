#pragma once

#include <cstdint>
#include <vector>

// One encoded packet before it is put into pages.
struct Packet {
    std::vector<unsigned char> data;
    std::int64_t granule = -1; // -1: no granule position of its own
};
