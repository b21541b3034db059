#include "Core/Multimedia/AudioChannelControl.h"

#include "Core/Base/GainFromVolume.h"

#include <QMetaType>

#include <algorithm>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Multimedia/AudioChannelControl";
} // namespace

Logging::Log AudioChannelControl::ms_log("AudioChannelControl", Logging::Log::systemLogger());

AudioChannelControl::AudioChannelControl(QObject* parent) : QMediaControl(parent)
{
    // The signals name these types; registered so that queued connections and spies carry them.
    qRegisterMetaType<ui32>("ui32");
    qRegisterMetaType<i32>("i32");
    for (ui32 channel = 0; channel < ChannelCount; ++channel) {
        volume[channel] = 100;
        gain[channel] = 1.0f;
        enabled[channel] = true;
    }
}

void AudioChannelControl::setChannelVolume(ui32 channelId, i32 value)
{
    if (channelId >= ChannelCount) {
        HARBEND_LOG(Warning,
                    "Trying to set the volume for channel #%u, which is greater than supported number of channels.",
                    channelId);
        return;
    }
    const i32 clamped = std::clamp<i32>(value, 0, 100);
    if (clamped == volume[channelId])
        return;
    const float newGain = gainFromVolume(clamped);
    HARBEND_LOG(Debug, "Setting channel #%u volume to %3.2f%%.", channelId, double(newGain) * 100.0);
    volume[channelId] = clamped;
    gain[channelId] = newGain;
    emit channelVolumeChanged(channelId, clamped);
}

void AudioChannelControl::setChannelEnabled(ui32 channelId, bool value)
{
    if (channelId >= ChannelCount) {
        HARBEND_LOG(Warning, "Trying to switch channel #%u, which is greater than supported number of channels.",
                    channelId);
        return;
    }
    if (value == enabled[channelId])
        return;
    HARBEND_LOG(Debug, "%s channel #%u.", value ? "Enabling" : "Disabling", channelId);
    enabled[channelId] = value;
    emit channelEnabledChanged(channelId, value);
}

} // namespace Harbend
