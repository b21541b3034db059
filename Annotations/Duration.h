#pragma once

#include <QString>

// Conversions between milliseconds, the clock text HH:MM:SS ("Tf") and the
// ISO 8601 durations kept in annotation files. Stateless; unreadable text
// gives 0 or an empty text.
class Duration {
public:
    static QString msToTf(qint64 ms);
    static qint64 tfToMs(QString tf);
    static QString msToIso(qint64 ms);
    static qint64 isoToMs(QString iso);
    static QString isoToTf(QString iso);
};
