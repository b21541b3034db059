#include "ToneSource.h"

#include <cmath>

ToneSource::ToneSource(const StreamSpec& spec, int rate)
    : spec(spec), rate(rate), total(static_cast<long long>(std::llround(spec.duration * rate)))
{
}

double ToneSource::frequency(int channel) const { return spec.baseFrequency + channel * spec.frequencyStep; }

double ToneSource::sample(int channel, long long n) const
{
    if (n < 0 || n >= total)
        return 0.0;
    if (spec.clicks > 0.0) {
        // A burst of an eighth of the rate passes every codec and resampler;
        // the last one ends with the stream, so that its end can be heard.
        const long long period = std::llround(spec.clicks * rate);
        const long long clickLength = rate / 250;
        const long long intoLast = n - (total - clickLength);
        const long long into = intoLast >= 0 ? intoLast : period > 0 ? n % period : clickLength;
        if (into < clickLength)
            return 0.9 * std::sin(M_PI / 4.0 * double(into));
    }
    const double phase = 2.0 * M_PI * frequency(channel) * double(n) / double(rate);
    const double tone = spec.level * std::sin(phase);
    if (!spec.busyAt(double(n) / double(rate)))
        return tone;
    return tone + spec.level * StreamSpec::noise(std::uint64_t(n) * 16 + std::uint64_t(channel));
}

void ToneSource::fill(int channel, long long first, int count, double scale, float* out) const
{
    for (int i = 0; i < count; ++i)
        out[i] = static_cast<float>(sample(channel, first + i) * scale);
}
