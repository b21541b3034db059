#include "Core/Dsp/WindowFunction.h"

#include "Core/Base/Processor.h"
#include "Core/Dsp/ScaleFunction.h"

namespace Harbend {

WindowFunction::WindowFunction(Type::Enum type) : scale(scaleFunction::rectangle)
{
    const bool sse2 = Processor::has(Processor::SSE2);
    switch (type) {
    case Type::Hann:
        scale = sse2 ? scaleFunction::hannSSE2 : scaleFunction::hann;
        break;
    case Type::Hamming:
        scale = sse2 ? scaleFunction::hammingSSE2 : scaleFunction::hamming;
        break;
    default:
        break;
    }
}

} // namespace Harbend
