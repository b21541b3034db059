#include "Core/Dsp/PhaseVocoder.h"

#include "Core/Base/Log.h"
#include "Core/Base/Memory.h"
#include "Core/Base/Processor.h"
#include "Core/Dsp/AllocateFloats.h"
#include "Core/Dsp/Complex.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

namespace Harbend {

namespace {

const char kLogSource[] = "Core/Dsp/PhaseVocoder";

const float kPi = 3.14159265358979323846f;
const float kTwoPi = 6.28318530717958647692f;

// Reduces a phase of up to a million turns into (-pi, pi].
inline float wrap(float phase)
{
    const float turns = phase * (1.0f / kTwoPi);
    if (!(std::fabs(turns) < 1e6f))
        return 0.0f;
    float reduced = phase - kTwoPi * static_cast<float>(static_cast<int>(turns + (turns < 0.0f ? -0.5f : 0.5f)));
    if (reduced <= -kPi)
        reduced += kTwoPi;
    else if (reduced > kPi)
        reduced -= kTwoPi;
    return reduced;
}

// The same for four phases that are already within a few turns.
inline __m128 wrap(__m128 phase)
{
    const __m128 twoPi = _mm_set1_ps(kTwoPi);
    const __m128 turns = _mm_cvtepi32_ps(_mm_cvtps_epi32(_mm_mul_ps(phase, _mm_set1_ps(1.0f / kTwoPi))));
    __m128 reduced = _mm_sub_ps(phase, _mm_mul_ps(turns, twoPi));
    reduced = _mm_add_ps(reduced, _mm_and_ps(_mm_cmple_ps(reduced, _mm_set1_ps(-kPi)), twoPi));
    return _mm_sub_ps(reduced, _mm_and_ps(_mm_cmpgt_ps(reduced, _mm_set1_ps(kPi)), twoPi));
}

} // namespace

Logging::Log PhaseVocoder::ms_log("PhaseVocoder", Logging::Log::systemLogger());

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
      windowValues(nullptr),
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
    imaginary = allocateFloats(5 * frameSize + synthesisHop);
    history = allocateFloats(historySize);
    output = allocateFloats(outputSize);
    if (!imaginary || !history || !output || !fft.scratchReal) {
        // Nothing throws: a vocoder without its buffers returns no output.
        HARBEND_LOG(Fatal, "Failed to allocate vocoder buffers! Out of memory?");
        release();
        return;
    }
    frame = imaginary + frameSize;
    phases = frame + frameSize;
    frequencies = phases + frameSize;
    analysisPhases = frequencies + frameSize / 2;
    overlapGain = analysisPhases + frameSize / 2;
    windowValues = overlapGain + synthesisHop;
    std::fill(history, history + historySize, 0.0f);
    std::fill(output, output + outputSize, 0.0f);
    buildWindowAndGain();
}

PhaseVocoder::~PhaseVocoder() { release(); }

void PhaseVocoder::release()
{
    for (float* block : {imaginary, history, output}) {
        if (block)
            Memory::free(block);
    }
    imaginary = history = output = nullptr;
}

void PhaseVocoder::buildWindowAndGain()
{
    // The window's values are kept, so that each frame costs two products
    // rather than two evaluations of the window.
    std::fill(windowValues, windowValues + frameSize, 1.0f);
    if (frameSize > 1 && frameSize % 4 == 0)
        window.scale(windowValues, frameSize);

    // Every output sample is the sum of frames that went through the window
    // twice and through the inverse transform's 1/sqrt(2); dividing by that sum
    // keeps the input's level at any synthesis hop.
    for (unsigned j = 0; j < synthesisHop; ++j) {
        double sum = 0.0;
        for (unsigned i = j; i < frameSize; i += synthesisHop)
            sum += double(windowValues[i]) * windowValues[i];
        overlapGain[j] = static_cast<float>(std::sqrt(2.0) / sum);
    }
}

void PhaseVocoder::applyWindow(float* data)
{
    unsigned i = 0;
    for (; i + 4 <= frameSize; i += 4)
        _mm_store_ps(data + i, _mm_mul_ps(_mm_load_ps(data + i), _mm_load_ps(windowValues + i)));
    for (; i < frameSize; ++i)
        data[i] *= windowValues[i];
}

void PhaseVocoder::convertPhasesToFrequencies()
{
    // The advance that bin k makes over one analysis hop, k pi/2, reduced.
    static const float expected[4] = {0.0f, kPi / 2, kPi, -kPi / 2};
    // Differences are taken against the previous analysis phases, never the
    // synthesized ones, and reduced fully: a single fold leaves some outside.
    unsigned k = 0;
    if (Processor::has(Processor::SSE2)) {
        const __m128 expectedAdvance = _mm_loadu_ps(expected);
        const __m128 toBins = _mm_set1_ps(2.0f / kPi);
        __m128 bins = _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f);
        for (; k + 4 <= frameSize / 2; k += 4) {
            const __m128 current = _mm_load_ps(frame + k);
            const __m128 d = wrap(
                _mm_sub_ps(wrap(_mm_sub_ps(current, _mm_load_ps(analysisPhases + k))), expectedAdvance));
            _mm_store_ps(analysisPhases + k, current);
            _mm_store_ps(frequencies + k, _mm_add_ps(bins, _mm_mul_ps(d, toBins)));
            bins = _mm_add_ps(bins, _mm_set1_ps(4.0f));
        }
    }
    for (; k < frameSize / 2; ++k) {
        const float d = wrap(wrap(frame[k] - analysisPhases[k]) - expected[k & 3]);
        analysisPhases[k] = frame[k];
        frequencies[k] = static_cast<float>(k) + d * (2.0f / kPi);
    }
}

void PhaseVocoder::synthesizePhases()
{
    // Each bin carried on by its own frequency keeps whatever phase it had
    // against its neighbours: after a change of sound, the bins of one
    // partial may end up opposed and cancel it. So only the peaks go on by
    // their frequency over one synthesis hop (whole turns of k pi / phaseScale
    // dropped exactly, the sum wrapped, so that the phases stay small and
    // precise); every other bin follows the peak whose lobe it lies in, keeping
    // its analysis phase against that peak's.
    const float advance = kPi / phaseScale;
    const unsigned period = 2 * static_cast<unsigned>(phaseScale);
    const unsigned half = frameSize / 2;
    const float* magnitude = imaginary;
    auto isPeak = [&](unsigned k) {
        const float m = magnitude[k];
        return m > magnitude[k - 1] && m >= magnitude[k + 1] && (k < 2 || m > magnitude[k - 2]) &&
               (k + 2 >= half || m >= magnitude[k + 2]);
    };
    // frame holds the analysis phases; each bin's turns into its synthesized one.
    const bool vector = Processor::has(Processor::SSE2);
    auto follow = [&](unsigned from, unsigned to, float rotation) {
        unsigned k = from;
        if (vector) {
            // The sums lie within a few turns: the four-wide reduction holds.
            const __m128 turn = _mm_set1_ps(rotation);
            for (; k + 4 <= to; k += 4)
                _mm_storeu_ps(frame + k, wrap(_mm_add_ps(_mm_loadu_ps(frame + k), turn)));
        }
        for (; k < to; ++k)
            frame[k] = wrap(frame[k] + rotation);
    };
    unsigned lastPeak = 0; // bin 0 keeps its analysis phase and leads no lobe
    float lastRotation = 0.0f;
    auto lead = [&](unsigned k) {
        const float deviation = frequencies[k] - static_cast<float>(k);
        const float rotation = phases[k] + (static_cast<float>(k % period) + deviation) * advance - frame[k];
        // The lobes meet at the lowest bin between the two peaks.
        unsigned trough = k;
        if (lastPeak > 0) {
            for (unsigned j = lastPeak + 1; j < k; ++j)
                trough = magnitude[j] < magnitude[trough] ? j : trough;
            follow(lastPeak, trough, lastRotation);
        } else {
            trough = 1;
        }
        follow(trough, k, rotation);
        lastPeak = k;
        lastRotation = rotation;
    };
    // The peaks four bins at a time, as a mask; the edges bin by bin.
    unsigned k = 1;
    for (; k < 4; ++k) {
        if (isPeak(k))
            lead(k);
    }
    if (vector) {
        for (; k + 6 <= half; k += 4) {
            const __m128 m = _mm_load_ps(magnitude + k);
            const __m128 near = _mm_and_ps(_mm_cmpgt_ps(m, _mm_loadu_ps(magnitude + k - 1)),
                                           _mm_cmpge_ps(m, _mm_loadu_ps(magnitude + k + 1)));
            const __m128 far = _mm_and_ps(_mm_cmpgt_ps(m, _mm_loadu_ps(magnitude + k - 2)),
                                          _mm_cmpge_ps(m, _mm_loadu_ps(magnitude + k + 2)));
            const __m128 peak = _mm_and_ps(near, far);
            for (unsigned bits = unsigned(_mm_movemask_ps(peak)); bits != 0; bits &= bits - 1)
                lead(k + unsigned(__builtin_ctz(bits)));
        }
    }
    for (; k + 1 < half; ++k) {
        if (isPeak(k))
            lead(k);
    }
    if (lastPeak > 0)
        follow(lastPeak, half, lastRotation);
}

float* PhaseVocoder::processData(float* input, unsigned& count)
{
    const unsigned n = frameSize;
    const unsigned ha = analysisHop;
    const unsigned hs = synthesisHop;
    if (!output) {
        count = 0;
        return nullptr;
    }

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
        if (keptFrames == 0)
            synthesizePhases();
        for (unsigned k = 1; k < n / 2; ++k)
            frame[n - k] = -frame[k];
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
