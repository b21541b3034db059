#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// One annotation of a layer: its time as written in the file, its text and
// protocol flag, and the values the panel's table, filter and sort need.
class CAdnotation {
public:
    CAdnotation();
    CAdnotation(QString time, QString text, QString protocol, int layerId);

    // Time order, then layer order.
    bool operator<(const CAdnotation& other) const;

    void setText(QString text);

    QString time; // ISO 8601 duration, exactly as read or written: finds the element in its file
    QString text;
    QString protocol;
    bool isProtocol = false;
    qint64 timeMs = 0;
    QString timeText; // HH:MM:SS
    int layerId = -1;
    bool visible = true; // passes the panel's filter
    int row = -1;        // row in the shown table
    int index = -1;      // position in the panel's sorted list
};

Q_DECLARE_METATYPE(CAdnotation)
