#pragma once

namespace Harbend {

// A most-significant-bit-first reader over one byte range, for the Dirac
// sequence header. Bits past the end read as 0; an exp-Golomb code that
// cannot end within the data, or is wider than 32 bits, marks the reader as
// failed instead of running on.
class DiracBs {
public:
    DiracBs(const unsigned char* data, long size);

    // The next 1 to 32 bits; at the end of the data the missing low bits are 0.
    int read(int bits);
    // An interleaved exp-Golomb code; 0 and failed() once it cannot end in the data.
    unsigned uint();

    bool failed() const { return m_failed; }

private:
    const unsigned char* start;
    const unsigned char* pos;
    const unsigned char* end;
    int bitsLeft;
    bool m_failed;
};

} // namespace Harbend
