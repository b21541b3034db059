#include "Gui/ChannelVolumeSlider.h"

namespace Harbend {

ChannelVolumeSlider::ChannelVolumeSlider(ui32 channelId, Qt::Orientation orientation, QWidget* parent)
    : QSlider(orientation, parent), channelId(channelId)
{
}

ChannelVolumeSlider::~ChannelVolumeSlider() {}

} // namespace Harbend
