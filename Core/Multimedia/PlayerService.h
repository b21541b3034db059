#pragma once

#include <QMediaService>

class QMediaPlayerControl;

namespace Harbend {

class AudioChannelControl;
class AudioEndpointControl;
class MetaDataControl;
class VideoRendererControl;

// The media player's engine: hands out the controls. Only the renderer
// control is lent and taken back; the others live as long as the service.
class PlayerService : public QMediaService {
    Q_OBJECT
public:
    // Identifier under which the channel control is handed out.
    static const char AudioChannelControlId[];

    explicit PlayerService(QObject* parent);
    ~PlayerService() override;

    QMediaControl* requestControl(const char* name) override;
    void releaseControl(QMediaControl* control) override;

    // Read directly by the playback session.
    MetaDataControl* metaDataControl = nullptr;
    QMediaPlayerControl* playerControl = nullptr;
    AudioEndpointControl* audioEndpointControl = nullptr;
    AudioChannelControl* audioChannelControl = nullptr;
    VideoRendererControl* videoRendererControl = nullptr;
};

} // namespace Harbend
