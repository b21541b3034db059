#pragma once

namespace Harbend {

// Radix-2 self-sorting (Stockham) transform of a fixed power-of-two size (at
// least 16) on separate, 16-byte-aligned real and imaginary arrays. Tables and
// scratch are built once; the transforms allocate nothing. When the heap
// refuses them, scratchReal stays null and the transforms do nothing. The
// butterflies run four values per step when the processor has SSE at
// construction, else one.
class FFT {
public:
    explicit FFT(unsigned n);
    ~FFT();
    FFT(const FFT&) = delete;
    FFT& operator=(const FFT&) = delete;

    // Forward transform in place, bins in natural order, no scaling.
    void fft(float* re, float* im, unsigned n);

    // Negates im, transforms, then divides by n sqrt(2): the real part is the
    // inverse transform's divided by sqrt(2), the imaginary part stays negated.
    void ifft(float* re, float* im, unsigned n);

    unsigned size;
    float* scratchReal;
    float* scratchImaginary;
    float** sinTables;
    float** cosTables;

private:
    void stage(float* re, float* im, unsigned groups);
    void release();

    bool vectorised;
};

} // namespace Harbend
