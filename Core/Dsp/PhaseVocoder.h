#pragma once

#include "Core/Base/Log.h"
#include "Core/Dsp/FFT.h"
#include "Core/Dsp/WindowFunction.h"

namespace Harbend {

// Changes the duration of mono float audio without changing its pitch.
// Analysis frames of frameSize samples advance by a quarter frame; synthesis
// frames are laid a shorter (factor 1.5 or more) or longer (0.75 or less) hop
// apart. frameSize is a power of two of at least 16 and blockSize a multiple of
// frameSize / 4. Everything is allocated at construction; when the heap
// refuses, the failure is logged and processData returns null with a count of 0.
class PhaseVocoder {
public:
    PhaseVocoder(unsigned frameSize, unsigned blockSize, float factor);
    ~PhaseVocoder();
    PhaseVocoder(const PhaseVocoder&) = delete;
    PhaseVocoder& operator=(const PhaseVocoder&) = delete;

    // Takes exactly blockSize samples; returns the finished output and sets
    // count to its length (12 synthesis hops per call at the sizes in use).
    // The samples stay valid until the next call. Allocates nothing.
    float* processData(float* input, unsigned& count);
    // False when the heap refused the buffers: such a vocoder gives no output.
    bool isValid() const { return output != nullptr; }

private:
    void convertPhasesToFrequencies();
    void synthesizePhases();
    void applyWindow(float* data);
    void buildWindowAndGain();
    void release();

    static Logging::Log ms_log;

    unsigned frameSize;
    unsigned blockSize;
    unsigned analysisHop;
    unsigned synthesisHop;
    unsigned outputSize;
    unsigned historySize;
    float phaseScale;
    unsigned lastCount;
    bool first;
    FFT fft;
    WindowFunction window;
    float* imaginary;
    float* frame;
    float* phases;
    float* frequencies;
    float* analysisPhases; // the previous frame's analysis phases, bins 0 .. N/2 - 1
    float* overlapGain;    // per sample of one synthesis hop: sqrt(2) over the summed squared windows
    float* windowValues;   // the window's N values
    float* history;
    float* output;
};

} // namespace Harbend
