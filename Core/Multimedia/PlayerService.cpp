#include "Core/Multimedia/PlayerService.h"

#include "Core/Multimedia/AudioChannelControl.h"
#include "Core/Multimedia/AudioEndpointControl.h"
#include "Core/Multimedia/MetaDataControl.h"
#include "Core/Multimedia/PlayerControl.h"
#include "Core/Multimedia/VideoRendererControl.h"

#include <QAudioOutputSelectorControl>
#include <QMediaPlayerControl>
#include <QMetaDataReaderControl>
#include <QVideoRendererControl>

#include <cstring>
#include <utility>

namespace Harbend {

const char PlayerService::AudioChannelControlId[] = "com.velmora.HarbendPlayer.AudioChannelControl/1.0";

namespace {
// Forgotten before it goes: the player control's stop may run the event loop,
// and a control asked for then must not be the one being deleted.
template <class T>
void deleteAndForget(T*& field)
{
    delete std::exchange(field, nullptr);
}
} // namespace

PlayerService::PlayerService(QObject* parent) : QMediaService(parent)
{
    metaDataControl = new MetaDataControl(this);
    playerControl = new PlayerControl(this);
    audioEndpointControl = new AudioEndpointControl(this);
    audioChannelControl = new AudioChannelControl(this);
}

PlayerService::~PlayerService()
{
    // The player control stops playback before the outputs and channels go.
    deleteAndForget(playerControl);
    deleteAndForget(audioEndpointControl);
    deleteAndForget(audioChannelControl);
    deleteAndForget(videoRendererControl);
    deleteAndForget(metaDataControl);
}

QMediaControl* PlayerService::requestControl(const char* name)
{
    if (!name)
        return nullptr;
    if (std::strcmp(name, QMediaPlayerControl_iid) == 0)
        return playerControl;
    if (std::strcmp(name, QAudioOutputSelectorControl_iid) == 0)
        return audioEndpointControl;
    if (std::strcmp(name, AudioChannelControlId) == 0)
        return audioChannelControl;
    if (std::strcmp(name, QVideoRendererControl_iid) == 0) {
        // Lent once: a second request before the release gets nothing.
        if (videoRendererControl)
            return nullptr;
        videoRendererControl = new VideoRendererControl(this);
        return videoRendererControl;
    }
    if (std::strcmp(name, QMetaDataReaderControl_iid) == 0)
        return metaDataControl;
    return nullptr;
}

void PlayerService::releaseControl(QMediaControl* control)
{
    if (control && control == videoRendererControl)
        deleteAndForget(videoRendererControl);
}

} // namespace Harbend
