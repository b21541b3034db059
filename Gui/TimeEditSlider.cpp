#include "Gui/TimeEditSlider.h"

#include <QMouseEvent>
#include <QTime>

#include <limits>

namespace {
const QString positionToolTip = QStringLiteral("Pozycja nagrania");

// The groove leaves this many pixels free at each end of the slider.
const int kGrooveMargin = 6;
} // namespace

TimeEditSlider::TimeEditSlider(QWidget* parent) : QSlider(parent) {}

QString TimeEditSlider::pos2tekst(long ms)
{
    return QTime(0, 0, 0, 0).addMSecs(static_cast<int>(ms % (24L * 3600 * 1000))).toString(QStringLiteral("hh:mm:ss"));
}

void TimeEditSlider::setMediaStart(qint64 start) { mediaStart = start; }

void TimeEditSlider::setMediaStop(qint64 stop) { mediaStop = stop; }

void TimeEditSlider::tesSetEnabled(bool enabled)
{
    setToolTip(positionToolTip);
    setEnabled(enabled);
}

void TimeEditSlider::mouseMoveEvent(QMouseEvent* event)
{
    const qint64 length = mediaStop - mediaStart;
    const int grooveWidth = width() - 2 * kGrooveMargin;
    // Without a range, or too narrow to map a pixel to a time, there is no time to show.
    if (length <= 0 || !isEnabled() || grooveWidth <= 0) {
        setToolTip(positionToolTip);
    } else {
        // Not clamped: beyond the margins the time lies before the start or after the stop.
        const long double t = mediaStart +
                              static_cast<long double>(event->pos().x() - kGrooveMargin) / grooveWidth * length;
        const long double limit = std::numeric_limits<int>::max();
        setToolTip(pos2tekst(static_cast<int>(t > limit ? limit : t < -limit ? -limit : t)));
    }
    QSlider::mouseMoveEvent(event);
}
