#include "Core/Multimedia/AudioChannelControl.h"
#include "Gui/ChannelControlWidget.h"
#include "Gui/ChannelVolumeSlider.h"

#include <QDockWidget>
#include <QFrame>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QtTest>

#include <memory>

using namespace Harbend;

namespace {

const int kChannels = 13;

// The panel's parts, found by where they stand.
struct Panel {
    std::unique_ptr<ChannelControlWidget> widget;
    QFrame* top = nullptr;
    QFrame* bottom = nullptr;

    QPushButton* buttonAt(QFrame* frame, int x, int y) const
    {
        for (QPushButton* b : frame->findChildren<QPushButton*>())
            if (b->geometry().topLeft() == QPoint(x, y))
                return b;
        return nullptr;
    }
    QPushButton* solo(int i) const { return buttonAt(top, 5 + 30 * i, 35); }
    QPushButton* enable(int i) const { return buttonAt(bottom, 5 + 30 * i, 35); }
    QPushButton* allOff() const { return buttonAt(top, 170, 5); }
    QPushButton* allOn() const { return buttonAt(top, 200, 5); }
    ChannelVolumeSlider* slider(int i) const
    {
        for (ChannelVolumeSlider* s : bottom->findChildren<ChannelVolumeSlider*>())
            if (s->channelId == ui32(i))
                return s;
        return nullptr;
    }
};

Panel build(AudioChannelControl* control, QWidget* parent = nullptr)
{
    Panel p;
    p.widget.reset(new ChannelControlWidget(control, parent));
    const QList<QFrame*> frames = p.widget->findChildren<QFrame*>(QString(), Qt::FindDirectChildrenOnly);
    for (QFrame* f : frames) {
        if (f->pos() == QPoint(0, 0))
            p.top = f;
        else if (f->pos() == QPoint(0, 70))
            p.bottom = f;
    }
    return p;
}

QImage faceOf(const QIcon& icon) { return icon.pixmap(16, 16).toImage(); }

bool showsOn(QPushButton* button)
{
    return faceOf(button->icon()) == faceOf(button->style()->standardIcon(QStyle::SP_MediaVolume));
}
bool showsOff(QPushButton* button)
{
    return faceOf(button->icon()) == faceOf(button->style()->standardIcon(QStyle::SP_MediaVolumeMuted));
}

QList<bool> flags(const AudioChannelControl& control)
{
    QList<bool> result;
    for (int i = 0; i < kChannels; ++i)
        result << control.enabled[i].load();
    return result;
}

} // namespace

class ChannelPanelTest : public QObject {
    Q_OBJECT
private slots:
    void layoutAndStartingValues();
    void soloAllOnAndToggle();
    void followsTheControl();
    void sliderSetsOneChannelVolume();
    void fixedSizeInADock();
};

void ChannelPanelTest::layoutAndStartingValues()
{
    AudioChannelControl control(nullptr);
    control.setChannelEnabled(3, false);
    control.setChannelVolume(3, 35);
    Panel p = build(&control);
    QVERIFY(p.top && p.bottom);
    QCOMPARE(p.top->size(), QSize(397, 67));
    QCOMPARE(p.bottom->size(), QSize(397, 170));
    QCOMPARE(p.top->frameShape(), QFrame::Panel);
    QCOMPARE(p.bottom->frameShadow(), QFrame::Raised);
    QCOMPARE(p.widget->minimumSize(), QSize(400, 243));
    QCOMPARE(p.widget->maximumSize(), QSize(400, 243));
    QVERIFY(p.allOff() && p.allOn());
    QVERIFY(showsOff(p.allOff()));
    QVERIFY(showsOn(p.allOn()));
    QVERIFY(p.allOff()->text().isEmpty());

    const QList<QLabel*> labels = p.bottom->findChildren<QLabel*>();
    QCOMPARE(labels.size(), kChannels);
    for (int i = 0; i < kChannels; ++i) {
        QVERIFY(p.solo(i) && p.enable(i) && p.slider(i));
        QCOMPARE(p.solo(i)->text(), QString::number(i + 1));
        QCOMPARE(p.solo(i)->size(), QSize(27, 27));
        QCOMPARE(labels.at(i)->text(), QString::number(i + 1));
        QCOMPARE(labels.at(i)->geometry(), QRect(5 + 30 * i, 5, 27, 27));
        QCOMPARE(labels.at(i)->alignment(), Qt::AlignCenter);
        QCOMPARE(p.slider(i)->geometry(), QRect(5 + 30 * i, 65, 27, 100));
        QCOMPARE(p.slider(i)->orientation(), Qt::Vertical);
        QCOMPARE(p.slider(i)->maximum(), 100);
        QCOMPARE(p.slider(i)->tickPosition(), QSlider::TicksBelow);
        // Channel 3 is off but keeps its stored volume.
        QCOMPARE(p.slider(i)->value(), i == 3 ? 35 : 100);
        QVERIFY(i == 3 ? showsOff(p.enable(i)) : showsOn(p.enable(i)));
    }
    QCOMPARE(p.enable(12)->geometry().topLeft(), QPoint(365, 35));
}

void ChannelPanelTest::soloAllOnAndToggle()
{
    AudioChannelControl control(nullptr);
    Panel p = build(&control);
    p.widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(p.widget.get()));
    QSignalSpy switched(&control, &AudioChannelControl::channelEnabledChanged);

    QTest::mouseClick(p.solo(5), Qt::LeftButton);
    QList<bool> expected;
    for (int i = 0; i < kChannels; ++i)
        expected << (i == 5);
    QCOMPARE(flags(control), expected);
    QCOMPARE(switched.count(), 12); // one signal per changed channel
    for (int i = 0; i < kChannels; ++i)
        QVERIFY(i == 5 ? showsOn(p.enable(i)) : showsOff(p.enable(i)));

    // Again: nothing changes, so nothing is signalled.
    QTest::mouseClick(p.solo(5), Qt::LeftButton);
    QCOMPARE(switched.count(), 12);

    QTest::mouseClick(p.allOn(), Qt::LeftButton);
    QCOMPARE(flags(control), QList<bool>(QVector<bool>(kChannels, true).toList()));
    for (int i = 0; i < kChannels; ++i)
        QVERIFY(showsOn(p.enable(i)));

    // The on/off button toggles from the panel's copy of the flag.
    QTest::mouseClick(p.enable(8), Qt::LeftButton);
    QVERIFY(!control.enabled[8]);
    QVERIFY(showsOff(p.enable(8)));
    QTest::mouseClick(p.enable(8), Qt::LeftButton);
    QVERIFY(control.enabled[8]);
    QVERIFY(showsOn(p.enable(8)));

    QTest::mouseClick(p.allOff(), Qt::LeftButton);
    QCOMPARE(flags(control), QList<bool>(QVector<bool>(kChannels, false).toList()));
    for (int i = 0; i < kChannels; ++i)
        QVERIFY(showsOff(p.enable(i)));
    // No volume was touched by any of this.
    for (int i = 0; i < kChannels; ++i)
        QCOMPARE(control.volume[i].load(), 100);
}

void ChannelPanelTest::followsTheControl()
{
    AudioChannelControl control(nullptr);
    Panel p = build(&control);
    control.setChannelVolume(7, 30);
    QCOMPARE(p.slider(7)->sliderPosition(), 30);
    control.setChannelVolume(7, 250); // clamped by the control
    QCOMPARE(p.slider(7)->sliderPosition(), 100);
    control.setChannelEnabled(2, false);
    QVERIFY(showsOff(p.enable(2)));

    // Channels beyond the panel are passed over.
    emit control.channelVolumeChanged(13, 5);
    emit control.channelVolumeChanged(ui32(-1), 5);
    emit control.channelEnabledChanged(13, false);
    for (int i = 0; i < kChannels; ++i)
        QCOMPARE(p.slider(i)->sliderPosition(), 100);

    // Once the panel is gone the control's signals reach nothing.
    p.widget.reset();
    control.setChannelVolume(1, 10);
    control.setChannelEnabled(1, false);
}

void ChannelPanelTest::sliderSetsOneChannelVolume()
{
    AudioChannelControl control(nullptr);
    control.setChannelVolume(12, 40);
    Panel p = build(&control);
    p.widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(p.widget.get()));
    QSignalSpy volumes(&control, &AudioChannelControl::channelVolumeChanged);
    QSignalSpy switched(&control, &AudioChannelControl::channelEnabledChanged);

    // Drag the handle of the last slider to the top.
    ChannelVolumeSlider* slider = p.slider(12);
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = Qt::Vertical;
    option.upsideDown = true; // a vertical slider has its maximum on top
    option.minimum = 0;
    option.maximum = 100;
    option.sliderPosition = option.sliderValue = slider->value();
    option.subControls = QStyle::SC_SliderHandle;
    const QRect handle = slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider);
    const QPoint grab = handle.center();
    const QPoint top(grab.x(), -20);
    QMouseEvent press(QEvent::MouseButtonPress, grab, slider->mapToGlobal(grab), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, top, slider->mapToGlobal(top), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, top, slider->mapToGlobal(top), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(slider, &press);
    QVERIFY(slider->isSliderDown());
    QApplication::sendEvent(slider, &move);
    QApplication::sendEvent(slider, &release);

    QCOMPARE(control.volume[12].load(), 100);
    QVERIFY(volumes.count() >= 1);
    for (const QList<QVariant>& call : volumes)
        QCOMPARE(call.at(0).value<ui32>(), ui32(12));
    QCOMPARE(volumes.last().at(1).value<i32>(), i32(100));
    QCOMPARE(switched.count(), 0);
    for (int i = 0; i < 12; ++i)
        QCOMPARE(control.volume[i].load(), 100);
    QCOMPARE(slider->value(), 100);
}

void ChannelPanelTest::fixedSizeInADock()
{
    AudioChannelControl control(nullptr);
    QMainWindow window;
    auto* dock = new QDockWidget(&window);
    auto* container = new QWidget;
    auto* panel = new ChannelControlWidget(&control, container);
    container->setMinimumSize(panel->width(), panel->height());
    dock->setWidget(container);
    window.addDockWidget(Qt::RightDockWidgetArea, dock);
    window.resize(1200, 900);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    dock->resize(700, 800);
    window.resize(1400, 1000);
    QTRY_COMPARE(window.size(), QSize(1400, 1000));
    QCOMPARE(panel->size(), QSize(400, 243));
    QVERIFY(container->width() >= 400);
}

QTEST_MAIN(ChannelPanelTest)
#include "tst_channel_panel.moc"
