#pragma once

namespace Harbend {

// Conversions between rectangular and polar form on split, 16-byte-aligned
// arrays whose length is a multiple of 4. The four-wide forms run when the
// processor has SSE2.
namespace Complex {

// im becomes the magnitude, re the phase in -pi..pi ((0, 0) gives phase 0).
void toPolar(float* re, float* im, unsigned n);

// phase becomes magnitude cos(phase), magnitude becomes magnitude sin(phase).
void toRealImaginary(float* phase, float* magnitude, unsigned n);

} // namespace Complex
} // namespace Harbend
