#pragma once

#include "Core/Base/RecorderChannels.h"
#include "Core/Base/Types.h"

#include <QIcon>
#include <QWidget>

class QFrame;
class QLabel;
class QPushButton;
class QSignalMapper;

namespace Harbend {

class AudioChannelControl;
class ChannelVolumeSlider;

// The 13-channel volume panel: a view and remote control of the engine's
// channel control. Every user action becomes a call of the control, and the
// buttons and sliders follow only the control's signals.
class ChannelControlWidget : public QWidget {
    Q_OBJECT
public:
    static const int ChannelCount = int(RecorderChannels);

    // The control must outlive the panel.
    ChannelControlWidget(AudioChannelControl* control, QWidget* parent);
    ~ChannelControlWidget() override;

private slots:
    void enableSingleChannel(int channelId);
    void enableAllChannels();
    void disableAllChannels();
    void changeVolume(int value);
    void channelEnabled(int channelId);
    void channelVolumeChanged(ui32 channelId, i32 volume);
    void channelEnabledChanged(ui32 channelId, bool enabled);

private:
    // A fixed-size child at a fixed place.
    template <class W>
    W* place(W* widget, int x, int y, int width, int height);
    void setAllChannels(bool on);

    QIcon iconOn;
    QIcon iconOff;
    AudioChannelControl* control;
    QSignalMapper* soloMapper;
    QSignalMapper* enableMapper;
    QFrame* topFrame;
    QFrame* bottomFrame;
    QPushButton* allOffButton;
    QPushButton* allOnButton;
    QPushButton* soloButtons[ChannelCount];
    QLabel* labels[ChannelCount];
    QPushButton* enableButtons[ChannelCount];
    ChannelVolumeSlider* sliders[ChannelCount];
    bool enabled[ChannelCount];
};

} // namespace Harbend
