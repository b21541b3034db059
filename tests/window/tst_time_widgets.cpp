// The position editor's keys and the position slider's hover time, on real
// widgets under a display.

#include "Gui/PosTimeEdit.h"
#include "Gui/TimeEditSlider.h"

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleOptionSlider>
#include <QVBoxLayout>
#include <QtTest>

namespace {

// Moves the mouse over the slider without a button, as tracking reports it.
QString hoverAt(TimeEditSlider& slider, int x, Qt::MouseButtons buttons = Qt::NoButton)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(x, slider.height() / 2), slider.mapToGlobal(QPoint(x, 0)), Qt::NoButton,
                     buttons, Qt::NoModifier);
    QApplication::sendEvent(&slider, &move);
    return slider.toolTip();
}

} // namespace

class TimeWidgetsTest : public QObject {
    Q_OBJECT
private slots:
    void enterAndEscapeStayInTheEditor();
    void otherKeysReachTheEditor();
    void hoverShowsTheTimeUnderTheMouse();
    void hoverWithoutATimeToShow();
    void draggingStillMovesTheSlider();
    void clockTextWrapsAtMidnight();
};

void TimeWidgetsTest::enterAndEscapeStayInTheEditor()
{
    // Inside a dialog with a default button, which would take these keys if they escaped.
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    auto* edit = new PosTimeEdit(&dialog);
    edit->setDisplayFormat(QStringLiteral("hh:mm:ss"));
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    layout->addWidget(edit);
    layout->addWidget(ok);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    edit->setFocus();
    edit->setTime(QTime(0, 0, 0));
    edit->setSelectedSection(QDateTimeEdit::HourSection);
    QTest::keyClicks(edit, QStringLiteral("05"));
    QCOMPARE(edit->time(), QTime(5, 0, 0));

    QSignalSpy enter(edit, &PosTimeEdit::pteEnterPressed);
    QSignalSpy escape(edit, &PosTimeEdit::pteEscapePressed);
    QSignalSpy finished(edit, &QAbstractSpinBox::editingFinished);
    QSignalSpy closed(&dialog, &QDialog::finished);
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(enter.count(), 2);
    QCOMPARE(escape.count(), 0);
    QTest::keyClick(edit, Qt::Key_Escape);
    QCOMPARE(escape.count(), 1);
    QCOMPARE(enter.count(), 2);
    // The editor did not handle them and the dialog never saw them.
    QCOMPARE(finished.count(), 0);
    QCOMPARE(closed.count(), 0);
    QVERIFY(dialog.isVisible());
    QCOMPARE(edit->time(), QTime(5, 0, 0));
}

void TimeWidgetsTest::otherKeysReachTheEditor()
{
    PosTimeEdit edit(nullptr);
    edit.setDisplayFormat(QStringLiteral("hh:mm:ss"));
    edit.setTime(QTime(1, 2, 3));
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    edit.setFocus();
    edit.setCurrentSection(QDateTimeEdit::MinuteSection);
    QTest::keyClick(&edit, Qt::Key_Up);
    QCOMPARE(edit.time(), QTime(1, 3, 3));
    QTest::keyClick(&edit, Qt::Key_Tab);
    QTest::keyClicks(&edit, QStringLiteral("45"));
    QCOMPARE(edit.time(), QTime(1, 3, 45));
}

void TimeWidgetsTest::hoverShowsTheTimeUnderTheMouse()
{
    TimeEditSlider slider(nullptr);
    slider.setOrientation(Qt::Horizontal);
    slider.setMouseTracking(true);
    slider.setFixedSize(212, 24);
    slider.tesSetEnabled(true);
    slider.setMediaStart(0);
    slider.setMediaStop(3600000);
    slider.show();
    QVERIFY(QTest::qWaitForWindowExposed(&slider));
    QCOMPARE(slider.width(), 212);
    QCOMPARE(hoverAt(slider, 106), QStringLiteral("00:30:00"));
    QCOMPARE(hoverAt(slider, 6), QStringLiteral("00:00:00"));
    QCOMPARE(hoverAt(slider, 206), QStringLiteral("01:00:00"));
    // Truncated toward zero: 1 pixel is 18 seconds.
    QCOMPARE(hoverAt(slider, 7), QStringLiteral("00:00:18"));
    // Not clamped: left of the margin lies before the start, which wraps back from midnight.
    QCOMPARE(hoverAt(slider, 0), QStringLiteral("23:58:12"));
    QCOMPARE(hoverAt(slider, 211), QStringLiteral("01:01:30"));
    // Toward zero also before the start: -1000.5 ms is -1000 ms (23:59:59), not -1001 ms (23:59:58).
    slider.setMediaStop(200100);
    QCOMPARE(hoverAt(slider, 5), QStringLiteral("23:59:59"));

    slider.setMediaStart(3600000);
    slider.setMediaStop(7200000);
    QCOMPARE(hoverAt(slider, 6), QStringLiteral("01:00:00"));
    QCOMPARE(hoverAt(slider, 206), QStringLiteral("02:00:00"));
    QCOMPARE(hoverAt(slider, 0), QStringLiteral("00:58:12"));
    // A drag over the slider shows the time as well.
    QCOMPARE(hoverAt(slider, 106, Qt::LeftButton), QStringLiteral("01:30:00"));
}

void TimeWidgetsTest::hoverWithoutATimeToShow()
{
    TimeEditSlider slider(nullptr);
    slider.setOrientation(Qt::Horizontal);
    slider.setMouseTracking(true);
    slider.setFixedSize(212, 24);
    slider.show();
    QVERIFY(QTest::qWaitForWindowExposed(&slider));
    // Before the range is known.
    QCOMPARE(hoverAt(slider, 106), QStringLiteral("Pozycja nagrania"));
    slider.setMediaStart(5000);
    slider.setMediaStop(5000);
    QCOMPARE(hoverAt(slider, 106), QStringLiteral("Pozycja nagrania"));
    slider.setMediaStop(4000);
    QCOMPARE(hoverAt(slider, 106), QStringLiteral("Pozycja nagrania"));

    // Disabled, with a range: the resting text.
    slider.setMediaStart(0);
    slider.setMediaStop(3600000);
    slider.setToolTip(QStringLiteral("Pozycja odtwarzania"));
    slider.tesSetEnabled(false);
    QVERIFY(!slider.isEnabled());
    QCOMPARE(slider.toolTip(), QStringLiteral("Pozycja nagrania"));
    QCOMPARE(hoverAt(slider, 106), QStringLiteral("Pozycja nagrania"));

    // Too narrow to tell one time from another: no division by zero, no time.
    slider.tesSetEnabled(true);
    for (const int width : {12, 10, 1}) {
        slider.setFixedSize(width, 24);
        QCOMPARE(hoverAt(slider, width / 2), QStringLiteral("Pozycja nagrania"));
    }
    slider.setFixedSize(13, 24);
    QCOMPARE(hoverAt(slider, 6), QStringLiteral("00:00:00"));
}

void TimeWidgetsTest::draggingStillMovesTheSlider()
{
    TimeEditSlider slider(nullptr);
    slider.setOrientation(Qt::Horizontal);
    slider.setMouseTracking(true);
    slider.setRange(0, 1000);
    slider.setFixedSize(300, 24);
    slider.setMediaStart(0);
    slider.setMediaStop(1000000);
    slider.tesSetEnabled(true);
    slider.show();
    QVERIFY(QTest::qWaitForWindowExposed(&slider));
    QStyleOptionSlider option;
    option.initFrom(&slider);
    option.orientation = slider.orientation();
    option.minimum = slider.minimum();
    option.maximum = slider.maximum();
    option.sliderPosition = slider.sliderPosition();
    option.sliderValue = slider.value();
    const QRect handle = slider.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &slider);
    QSignalSpy moved(&slider, &QSlider::sliderMoved);
    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, handle.center());
    QVERIFY(slider.isSliderDown());
    hoverAt(slider, handle.center().x() + 150, Qt::LeftButton);
    QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(handle.center().x() + 150, 12));
    QVERIFY(moved.count() >= 1);
    QVERIFY(slider.value() > 400);
}

void TimeWidgetsTest::clockTextWrapsAtMidnight()
{
    QCOMPARE(TimeEditSlider::pos2tekst(0), QStringLiteral("00:00:00"));
    QCOMPARE(TimeEditSlider::pos2tekst(3723999), QStringLiteral("01:02:03"));
    QCOMPARE(TimeEditSlider::pos2tekst(86400000L + 61000), QStringLiteral("00:01:01"));
    QCOMPARE(TimeEditSlider::pos2tekst(-1000), QStringLiteral("23:59:59"));
}

QTEST_MAIN(TimeWidgetsTest)
#include "tst_time_widgets.moc"
