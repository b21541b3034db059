#pragma once

#include "Core/Base/Log.h"
#include "Core/Base/RecorderChannels.h"
#include "Core/Base/Types.h"

#include <QMediaControl>

#include <atomic>

namespace Harbend {

// Volume and switch of each of the 13 microphone channels. The audio output
// thread reads gain and enabled while it mixes, without a lock.
class AudioChannelControl : public QMediaControl {
    Q_OBJECT
public:
    static const ui32 ChannelCount = RecorderChannels;

    explicit AudioChannelControl(QObject* parent);

    // Atomic: the GUI thread writes them, the audio output thread reads them.
    std::atomic<i32> volume[ChannelCount];
    std::atomic<float> gain[ChannelCount];
    std::atomic<bool> enabled[ChannelCount];

signals:
    void channelVolumeChanged(ui32 channelId, i32 volume);
    void channelEnabledChanged(ui32 channelId, bool enabled);

public slots:
    // Clamped to 0..100; signals only a real change.
    void setChannelVolume(ui32 channelId, i32 volume);
    void setChannelEnabled(ui32 channelId, bool enabled);

private:
    static Logging::Log ms_log;
};

} // namespace Harbend
