#include "Core/Dsp/PhaseVocoder.h"

#include "Core/Base/Memory.h"
#include "Core/Dsp/AllocateFloats.h"
#include "Core/Dsp/Complex.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Harbend {

namespace {

const float kPi = 3.14159265358979323846f;
const float kTwoPi = 6.28318530717958647692f;

} // namespace

PhaseVocoder::PhaseVocoder(unsigned frameSize, unsigned blockSize, float factor)
    : frameSize(frameSize),
      blockSize(blockSize),
      analysisHop(frameSize / 4),
      synthesisHop(frameSize / 4),
      outputSize(blockSize + frameSize),
      historySize(3 * (frameSize / 4) + blockSize),
      phaseScale(2.0f),
      lastCount(0),
      first(true),
      fft(frameSize),
      window(WindowFunction::Type::Hamming),
      imaginary(nullptr),
      frame(nullptr),
      phases(nullptr),
      frequencies(nullptr),
      history(nullptr),
      output(nullptr)
{
    if (factor >= 1.5f) {
        synthesisHop = frameSize / 8;
        outputSize = blockSize / 2 + frameSize;
        phaseScale = 4.0f;
    } else if (factor <= 0.75f) {
        synthesisHop = frameSize / 2;
        outputSize = frameSize + 2 * blockSize;
        phaseScale = 1.0f;
    }
    imaginary = allocateFloats(frameSize * 7 / 2);
    frame = imaginary + frameSize;
    phases = frame + frameSize;
    frequencies = phases + frameSize;
    try {
        history = allocateFloats(historySize);
        output = allocateFloats(outputSize);
    } catch (...) {
        Memory::free(imaginary);
        if (history)
            Memory::free(history);
        throw;
    }
    std::fill(history, history + historySize, 0.0f);
    std::fill(output, output + outputSize, 0.0f);
}

PhaseVocoder::~PhaseVocoder()
{
    Memory::free(imaginary);
    Memory::free(history);
    Memory::free(output);
}

void PhaseVocoder::applyWindow(float* data)
{
    if (frameSize > 1 && frameSize % 4 == 0)
        window.scale(data, frameSize);
}

void PhaseVocoder::convertPhasesToFrequencies()
{
    // The advance that bin k makes over one analysis hop, k pi/2, reduced.
    static const float expected[4] = {0.0f, kPi / 2, kPi, -kPi / 2};
    for (unsigned k = 0; k < frameSize / 2; ++k) {
        float d = frame[k] - phases[k];
        if (std::fabs(d) > kPi)
            d = d > 0.0f ? d - kTwoPi : d + kTwoPi;
        d -= expected[k & 3];
        if (d <= -kPi)
            d += kTwoPi;
        else if (d > kPi)
            d -= kTwoPi;
        frequencies[k] = static_cast<float>(k) + d * (2.0f / kPi);
    }
}

float* PhaseVocoder::processData(float* input, unsigned& count)
{
    const unsigned n = frameSize;
    const unsigned ha = analysisHop;
    const unsigned hs = synthesisHop;

    if (lastCount > hs)
        std::memmove(output, output + lastCount, hs * sizeof(float));
    std::fill(output + hs, output + outputSize, 0.0f);

    unsigned frameIndex = 0;
    if (first) {
        // Prime the phases with the block's first frame.
        std::memcpy(phases, input, n * sizeof(float));
        applyWindow(phases);
        std::memcpy(output, phases, n * sizeof(float));
        std::fill(imaginary, imaginary + n, 0.0f);
        fft.fft(phases, imaginary, n);
        Complex::toPolar(phases, imaginary, n);
        first = false;
        std::memcpy(history + 3 * ha, input, blockSize * sizeof(float));
        frameIndex = 1;
    } else {
        std::memmove(history, history + blockSize, 3 * ha * sizeof(float));
        std::memcpy(history + 3 * ha, input, blockSize * sizeof(float));
    }

    for (unsigned position = frameIndex * ha; position <= historySize - n; position = frameIndex * ha) {
        std::memcpy(frame, history + position, n * sizeof(float));
        std::fill(imaginary, imaginary + n, 0.0f);
        applyWindow(frame);
        fft.fft(frame, imaginary, n);
        Complex::toPolar(frame, imaginary, n);
        convertPhasesToFrequencies();
        const float advance = kPi / phaseScale;
        for (unsigned k = 1; k < n / 2; ++k) {
            frame[k] = frequencies[k] * advance + phases[k];
            frame[n - k] = -frame[k];
        }
        std::memcpy(phases, frame, n * sizeof(float));
        Complex::toRealImaginary(frame, imaginary, n);
        fft.ifft(frame, imaginary, n);
        applyWindow(frame);
        float* target = output + hs * frameIndex;
        for (unsigned i = 0; i < n; ++i)
            target[i] += frame[i];
        ++frameIndex;
    }

    count = frameIndex * hs;
    lastCount = count;
    return output;
}

} // namespace Harbend
