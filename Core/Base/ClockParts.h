#pragma once

#include <QtGlobal>

namespace Harbend {

// The hours, minutes and seconds of a non-negative time in ms; the hours
// are not limited to a day.
struct ClockParts {
    explicit ClockParts(qint64 ms)
        : hours(quint32(ms / 3600000)), minutes(quint32((ms % 3600000) / 60000)), seconds(quint32((ms % 60000) / 1000))
    {
    }
    quint32 hours;
    quint32 minutes;
    quint32 seconds;
};

} // namespace Harbend
