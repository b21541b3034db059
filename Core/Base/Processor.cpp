#include "Core/Base/Processor.h"

#include <cpuid.h>

#include <cstdio>
#include <cstring>

namespace Harbend {

namespace {

const char kLogSource[] = "Core/Base/Processor";

enum Vendor { OtherVendor, AmdVendor, IntelVendor };

Vendor readVendor()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(0, &eax, &ebx, &ecx, &edx))
        return OtherVendor;
    char vendor[13];
    std::memcpy(vendor, &ebx, 4);
    std::memcpy(vendor + 4, &edx, 4);
    std::memcpy(vendor + 8, &ecx, 4);
    vendor[12] = 0;
    if (std::strcmp(vendor, "AuthenticAMD") == 0)
        return AmdVendor;
    if (std::strcmp(vendor, "GenuineIntel") == 0)
        return IntelVendor;
    return OtherVendor;
}

// Appends a feature word, bounded by the room left in 1023 bytes.
void append(char* buffer, const char* word)
{
    const std::size_t used = std::strlen(buffer);
    if (used < 1023)
        std::snprintf(buffer + used, 1024 - used, "%s", word);
}

} // namespace

Processor Processor::ms_instance;
Logging::Log Processor::ms_log("Processor", Logging::Log::systemLogger());

void Processor::tidyBrandString(char brand[48])
{
    std::size_t lead = 0;
    while (lead < 48 && brand[lead] == ' ')
        ++lead;
    std::memmove(brand, brand + lead, 48 - lead);
    std::memset(brand + 48 - lead, 0, lead);

    std::size_t out = 0;
    for (std::size_t in = 0; in < 48; ++in) {
        if (brand[in] == ' ' && out > 0 && brand[out - 1] == ' ')
            continue;
        brand[out++] = brand[in];
    }
    std::memset(brand + out, 0, 48 - out);
}

void Processor::initialize()
{
    HARBEND_LOG(Info, "Checking processor capabilities...");
    char buffer[1024];
    std::memset(buffer, 0, sizeof buffer);

    const Vendor vendor = readVendor();
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    const unsigned highestExtended = __get_cpuid_max(0x80000000, nullptr);
    if (highestExtended >= 0x80000004) {
        unsigned* words = reinterpret_cast<unsigned*>(buffer);
        for (unsigned function = 0; function < 3; ++function)
            __get_cpuid(0x80000002 + function, &words[function * 4], &words[function * 4 + 1], &words[function * 4 + 2],
                        &words[function * 4 + 3]);
        buffer[48] = 0;
        tidyBrandString(buffer);
    } else {
        std::snprintf(buffer, sizeof buffer, "%s",
                      vendor == AmdVendor     ? "AMD"
                      : vendor == IntelVendor ? "Intel"
                                              : "unknown");
    }

    __get_cpuid(1, &eax, &ebx, &ecx, &edx);
    unsigned family = (eax >> 8) & 0xF;
    unsigned model = (eax >> 4) & 0xF;
    if (family == 15 || vendor == IntelVendor) {
        family += (eax >> 20) & 0xFF;
        model |= (eax >> 12) & 0xF0;
    }
    HARBEND_LOG(Info, "Found %s processor (family %u, model %u)", buffer, family, model);

    Registers registers = {edx, ecx, 0, vendor == AmdVendor};
    unsigned extEax = 0, extEbx = 0, extEcx = 0, extEdx = 0;
    if (highestExtended >= 0x80000001 && __get_cpuid(0x80000001, &extEax, &extEbx, &extEcx, &extEdx))
        registers.extendedEdx = extEdx;
    addFeatures(registers);
}

void Processor::addFeatures(const Registers& r)
{
    struct Feature {
        bool present;
        Flag flag;
        const char* word;
    };
    const Feature features[] = {
        {(r.features1Edx >> 23 & 1) != 0, MMX, "MMX, "},
        {(r.features1Edx >> 25 & 1) != 0, SSE, "SSE, "},
        {(r.features1Edx >> 26 & 1) != 0, SSE2, "SSE2, "},
        {(r.features1Ecx & 1) != 0, SSE3, "SSE3, "},
        {(r.features1Ecx >> 9 & 1) != 0, SSSE3, "SSSE3, "},
        {(r.features1Ecx >> 19 & 1) != 0, SSE41, "SSE4.1, "},
        {(r.features1Ecx >> 20 & 1) != 0, SSE42, "SSE4.2, "},
        {(r.extendedEdx >> 31 & 1) != 0, AMD3DNow, "3D Now!, "},
        {r.amd && (r.extendedEdx >> 22 & 1) != 0, AMDMMXExt, "MMX Ext, "},
    };

    char buffer[1024];
    std::snprintf(buffer, 1023, "%s", "Processor supported instruction sets: ");
    const std::size_t prefix = std::strlen(buffer);
    for (const Feature& feature : features) {
        if (feature.present) {
            ms_instance.flags |= feature.flag;
            append(buffer, feature.word);
        } else if (feature.flag == SSE) {
            HARBEND_LOG(Warning, "Your CPU does not support SSE, some accelerated conversion rutines might not work.");
        } else if (feature.flag == SSE2) {
            HARBEND_LOG(Warning, "Your CPU does not support SSE2, some accelerated conversion rutines might not work.");
        }
    }
    const std::size_t length = std::strlen(buffer);
    if (length > prefix) {
        buffer[length - 2] = 0;
        HARBEND_LOG(Info, "%s.", buffer);
    }
}

} // namespace Harbend
