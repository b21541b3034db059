#pragma once

#include "Core/Decoder/Sample.h"

namespace Harbend {

// Marks the end of one logical stream's samples.
class EOSSample : public Sample {
public:
    EOSSample() : Sample(EndOfStream, -1, 0) {}
};

} // namespace Harbend
