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

// Reduces a phase into (-pi, pi] whatever its size.
float wrap(float phase)
{
    return phase + kTwoPi * std::floor((kPi - phase) / kTwoPi);
}

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
      analysisPhases(nullptr),
      overlapGain(nullptr),
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
    imaginary = allocateFloats(4 * frameSize + synthesisHop);
    frame = imaginary + frameSize;
    phases = frame + frameSize;
    frequencies = phases + frameSize;
    analysisPhases = frequencies + frameSize / 2;
    overlapGain = analysisPhases + frameSize / 2;
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
    buildOverlapGain();
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

void PhaseVocoder::buildOverlapGain()
{
    // Every output sample is the sum of frames that went through the window
    // twice and through the inverse transform's 1/sqrt(2); dividing by that sum
    // keeps the input's level at any synthesis hop.
    std::fill(frame, frame + frameSize, 1.0f);
    applyWindow(frame);
    for (unsigned j = 0; j < synthesisHop; ++j) {
        double sum = 0.0;
        for (unsigned i = j; i < frameSize; i += synthesisHop)
            sum += double(frame[i]) * frame[i];
        overlapGain[j] = static_cast<float>(std::sqrt(2.0) / sum);
    }
}

void PhaseVocoder::convertPhasesToFrequencies()
{
    // The advance that bin k makes over one analysis hop, k pi/2, reduced.
    static const float expected[4] = {0.0f, kPi / 2, kPi, -kPi / 2};
    // Differences are taken against the previous analysis phases, never the
    // synthesized ones, and reduced fully: a single fold leaves some outside.
    for (unsigned k = 0; k < frameSize / 2; ++k) {
        const float d = wrap(wrap(frame[k] - analysisPhases[k]) - expected[k & 3]);
        analysisPhases[k] = frame[k];
        frequencies[k] = static_cast<float>(k) + d * (2.0f / kPi);
    }
}

float* PhaseVocoder::processData(float* input, unsigned& count)
{
    const unsigned n = frameSize;
    const unsigned ha = analysisHop;
    const unsigned hs = synthesisHop;

    // The frames of the last call reach N - Hs samples past its count: carry
    // all of those partial sums.
    const unsigned overlap = n - hs;
    if (lastCount > 0)
        std::memmove(output, output + lastCount, overlap * sizeof(float));
    std::fill(output + overlap, output + outputSize, 0.0f);

    unsigned frameIndex = 0;
    // The first call's frames start in the zeros before the block, two and one
    // hops before the primed frame, so their differences against it mean
    // nothing and would skew the bins against each other for good. They and
    // the first frame wholly in the block keep their own analysis phases; the
    // synthesized phases go on from there, in step with the input.
    unsigned keptFrames = first ? 3 : 0;
    if (first) {
        // Prime the phases with the block's first frame.
        std::memcpy(phases, input, n * sizeof(float));
        applyWindow(phases);
        std::memcpy(output, phases, n * sizeof(float));
        std::fill(imaginary, imaginary + n, 0.0f);
        fft.fft(phases, imaginary, n);
        Complex::toPolar(phases, imaginary, n);
        std::memcpy(analysisPhases, phases, n / 2 * sizeof(float));
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
        // Advance each synthesized phase by its frequency over one synthesis
        // hop; the whole turns of k pi / phaseScale are dropped exactly and the
        // sum is wrapped, so that the phases stay small and precise.
        const float advance = kPi / phaseScale;
        const unsigned period = 2 * static_cast<unsigned>(phaseScale);
        for (unsigned k = 1; k < n / 2; ++k) {
            if (keptFrames == 0) {
                const float deviation = frequencies[k] - static_cast<float>(k);
                frame[k] = wrap(phases[k] + (static_cast<float>(k % period) + deviation) * advance);
            }
            frame[n - k] = -frame[k];
        }
        if (keptFrames > 0)
            --keptFrames;
        std::memcpy(phases, frame, n * sizeof(float));
        Complex::toRealImaginary(frame, imaginary, n);
        fft.ifft(frame, imaginary, n);
        applyWindow(frame);
        float* target = output + hs * frameIndex;
        for (unsigned offset = 0; offset < n; offset += hs) {
            for (unsigned j = 0; j < hs; ++j)
                target[offset + j] += frame[offset + j] * overlapGain[j];
        }
        ++frameIndex;
    }

    count = frameIndex * hs;
    lastCount = count;
    return output;
}

} // namespace Harbend
