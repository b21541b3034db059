#pragma once

#include <QtGlobal>

namespace Harbend {

// The sample kernels of the audio output. Each plain form has an SSE or SSE2
// form with the same arguments that gives the same result, bit for bit, for
// every input; the vector forms need 16-byte aligned data and process the
// count rounded up to a multiple of 4 (volume, mixing) or only whole groups
// of eight (conversion).
class AudioKernels {
public:
    typedef void (*ConvertFunction)(qint16* out, const float* in, unsigned offset, unsigned count, float gain);
    typedef void (*AdjustVolumeFunction)(float* data, unsigned count, float gain);
    typedef void (*MixChannelsFunction)(float* a, const float* b, unsigned count, float gain);

    // data[i] *= gain.
    static void adjustVolume(float* data, unsigned count, float gain);
    static void adjustVolumeSSE(float* data, unsigned count, float gain);
    // t = b[i] * gain; a[i] = a[i] + t - a[i] * t, limited to -1..1 (NaN gives -1).
    static void mixChannels(float* a, const float* b, unsigned count, float gain);
    static void mixChannelsSSE(float* a, const float* b, unsigned count, float gain);
    // out[i] = in[offset + i] * (gain * 32768) + 0.5, limited to -32768..32767
    // and cut toward zero (NaN gives 0): full scale -1.0 gives -32767.
    static void convertFloatToI16(qint16* out, const float* in, unsigned offset, unsigned count, float gain);
    static void convertFloatToI16SSE2(qint16* out, const float* in, unsigned offset, unsigned count, float gain);
};

} // namespace Harbend
