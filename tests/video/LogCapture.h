#pragma once

#include <QByteArrayList>
#include <QString>
#include <QTemporaryDir>

// Sends the system log to a file of its own while it lives; messages() gives
// the message part of every line written so far, lines() the whole lines.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();

    QStringList messages() const;
    QStringList lines() const;
    // Each line as "LEVEL Logger: message".
    QStringList entries() const;

private:
    QTemporaryDir dir;
    QString path;
};
