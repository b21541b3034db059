#include "Gui/ChannelControlWidget.h"

#include "Core/Multimedia/AudioChannelControl.h"
#include "Gui/ChannelVolumeSlider.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSignalMapper>
#include <QStyle>

namespace Harbend {

namespace {
const int kCellSize = 27;
const int kFrameWidth = 397;
const int kTopFrameHeight = 67;
const int kBottomFrameHeight = 170;

// Left edge of a channel's column.
int columnX(int channel) { return 5 + 30 * channel; }

QFrame* raisedPanel(QWidget* parent)
{
    QFrame* frame = new QFrame(parent);
    frame->setFrameShape(QFrame::Panel);
    frame->setFrameShadow(QFrame::Raised);
    frame->setLineWidth(2);
    return frame;
}

void fixSize(QWidget* widget, int width, int height)
{
    widget->resize(width, height);
    widget->setMinimumSize(width, height);
    widget->setMaximumSize(width, height);
}
} // namespace

template <class W>
W* ChannelControlWidget::place(W* widget, int x, int y, int width, int height)
{
    fixSize(widget, width, height);
    widget->move(x, y);
    return widget;
}

ChannelControlWidget::ChannelControlWidget(AudioChannelControl* control, QWidget* parent)
    : QWidget(parent),
      iconOn(style()->standardIcon(QStyle::SP_MediaVolume)),
      iconOff(style()->standardIcon(QStyle::SP_MediaVolumeMuted)),
      control(control),
      soloMapper(new QSignalMapper(this)),
      enableMapper(new QSignalMapper(this))
{
    topFrame = raisedPanel(this);
    bottomFrame = raisedPanel(this);
    bottomFrame->move(0, kTopFrameHeight + 3);

    allOffButton = place(new QPushButton(topFrame), 170, 5, kCellSize, kCellSize);
    allOffButton->setIcon(iconOff);
    allOnButton = place(new QPushButton(topFrame), 170 + 30, 5, kCellSize, kCellSize);
    allOnButton->setIcon(iconOn);

    for (int i = 0; i < ChannelCount; ++i) {
        const QString number = QString::number(i + 1);
        enabled[i] = control->enabled[i];

        soloButtons[i] = place(new QPushButton(number, topFrame), columnX(i), 35, kCellSize, kCellSize);
        soloButtons[i]->raise();
        connect(soloButtons[i], &QPushButton::clicked, soloMapper, qOverload<>(&QSignalMapper::map));
        soloMapper->setMapping(soloButtons[i], i);

        labels[i] = place(new QLabel(number, bottomFrame), columnX(i), 5, kCellSize, kCellSize);
        labels[i]->setAlignment(Qt::AlignCenter);

        enableButtons[i] = place(new QPushButton(bottomFrame), columnX(i), 35, kCellSize, kCellSize);
        enableButtons[i]->raise();
        enableButtons[i]->setIcon(enabled[i] ? iconOn : iconOff);
        connect(enableButtons[i], &QPushButton::clicked, enableMapper, qOverload<>(&QSignalMapper::map));
        enableMapper->setMapping(enableButtons[i], i);

        sliders[i] = place(new ChannelVolumeSlider(ui32(i), Qt::Vertical, bottomFrame), columnX(i), 65, kCellSize, 100);
        sliders[i]->setRange(0, 100);
        sliders[i]->setTickPosition(QSlider::TicksBelow);
        sliders[i]->setValue(control->volume[i]);
        sliders[i]->setSliderPosition(control->volume[i]);
        // Connected only now: the initial value is the control's own.
        connect(sliders[i], &QSlider::valueChanged, this, &ChannelControlWidget::changeVolume);
    }

    fixSize(topFrame, kFrameWidth, kTopFrameHeight);
    fixSize(bottomFrame, kFrameWidth, kBottomFrameHeight);
    fixSize(this, kFrameWidth + 3, kTopFrameHeight - 1 + kBottomFrameHeight + 7);

    connect(soloMapper, &QSignalMapper::mappedInt, this, &ChannelControlWidget::enableSingleChannel);
    connect(enableMapper, &QSignalMapper::mappedInt, this, &ChannelControlWidget::channelEnabled);
    connect(allOffButton, &QPushButton::clicked, this, &ChannelControlWidget::disableAllChannels);
    connect(allOnButton, &QPushButton::clicked, this, &ChannelControlWidget::enableAllChannels);
    connect(control, &AudioChannelControl::channelEnabledChanged, this, &ChannelControlWidget::channelEnabledChanged);
    connect(control, &AudioChannelControl::channelVolumeChanged, this, &ChannelControlWidget::channelVolumeChanged);
}

ChannelControlWidget::~ChannelControlWidget()
{
    soloMapper->disconnect(this);
    enableMapper->disconnect(this);
    control->disconnect(this);
}

void ChannelControlWidget::enableSingleChannel(int channelId)
{
    if (ui32(channelId) >= ui32(ChannelCount))
        return;
    for (int i = 0; i < ChannelCount; ++i)
        control->setChannelEnabled(ui32(i), i == channelId);
}

void ChannelControlWidget::setAllChannels(bool on)
{
    for (int i = 0; i < ChannelCount; ++i)
        control->setChannelEnabled(ui32(i), on);
}

void ChannelControlWidget::enableAllChannels() { setAllChannels(true); }

void ChannelControlWidget::disableAllChannels() { setAllChannels(false); }

void ChannelControlWidget::changeVolume(int value)
{
    const auto* slider = qobject_cast<const ChannelVolumeSlider*>(sender());
    if (slider)
        control->setChannelVolume(slider->channelId, value);
}

void ChannelControlWidget::channelEnabled(int channelId)
{
    if (ui32(channelId) >= ui32(ChannelCount))
        return;
    control->setChannelEnabled(ui32(channelId), !enabled[channelId]);
}

void ChannelControlWidget::channelVolumeChanged(ui32 channelId, i32 volume)
{
    if (channelId < ui32(ChannelCount))
        sliders[channelId]->setSliderPosition(volume);
}

void ChannelControlWidget::channelEnabledChanged(ui32 channelId, bool on)
{
    if (channelId >= ui32(ChannelCount))
        return;
    enabled[channelId] = on;
    enableButtons[channelId]->setIcon(on ? iconOn : iconOff);
}

} // namespace Harbend
