#pragma once

#include "Core/Base/Types.h"

#include <QSlider>

namespace Harbend {

// A channel's volume slider: knows which channel it stands for, so that one
// slot serves all thirteen.
class ChannelVolumeSlider : public QSlider {
    Q_OBJECT
public:
    ChannelVolumeSlider(ui32 channelId, Qt::Orientation orientation, QWidget* parent);
    ~ChannelVolumeSlider() override;

    ui32 channelId;
};

} // namespace Harbend
