#pragma once

#include "Core/Base/Log.h"

namespace Harbend {

// Instruction-set extensions, detected once at start; they choose between the
// plain and the SSE/SSE2 kernels.
class Processor {
public:
    enum Flag : unsigned {
        MMX = 0x2,
        SSE = 0x4,
        SSE2 = 0x8,
        SSE3 = 0x10,
        SSSE3 = 0x20,
        SSE41 = 0x40,
        SSE42 = 0x80,
        AMD3DNow = 0x100,
        AMDMMXExt = 0x200
    };

    // The CPUID words the detection reads.
    struct Registers {
        unsigned features1Edx;
        unsigned features1Ecx;
        unsigned extendedEdx;
        bool amd;
    };

    static void initialize();

    // Adds the flags that the registers report and logs the list line.
    static void addFeatures(const Registers& registers);

    // Drops leading spaces and folds runs of spaces in a 48-byte brand string.
    static void tidyBrandString(char brand[48]);

    static bool has(Flag flag) { return (ms_instance.flags & flag) != 0; }

    // Replaces the detected word, so that tests can run every kernel form.
    static void overrideFlags(unsigned flags) { ms_instance.flags = flags; }

    // Set once on the GUI thread, before any thread that reads it starts.
    unsigned flags = 0;

    static Processor ms_instance;

private:
    static Logging::Log ms_log;
};

} // namespace Harbend
