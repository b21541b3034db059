#pragma once

namespace Harbend {

// Window kernels: each scales n samples in place. The SSE2 forms need 16-byte
// aligned data and process n rounded up to a multiple of 4.
namespace scaleFunction {

void rectangle(float* data, unsigned n);
void hann(float* data, unsigned n);
void hannSSE2(float* data, unsigned n);
void hamming(float* data, unsigned n);
void hammingSSE2(float* data, unsigned n);

} // namespace scaleFunction
} // namespace Harbend
