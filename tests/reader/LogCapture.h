#pragma once

#include "Core/Base/Logger.h"

#include <QFile>
#include <QTemporaryDir>

// Sends the system logger's lines to a file of its own and reads them back.
class LogCapture {
public:
    LogCapture() : path(dir.filePath(QStringLiteral("test.log")))
    {
        writer().openFile(QFile::encodeName(path).constData());
    }
    ~LogCapture() { writer().close(); }

    QByteArray text() const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool contains(const char* part) const { return text().contains(part); }
    int count(const char* part) const { return text().count(part); }
    // Forgets what was logged so far.
    void reset() { writer().openFile(QFile::encodeName(path).constData()); }

private:
    static Harbend::Logging::SystemLogger::Writer& writer()
    {
        return Harbend::Logging::SystemLogger::get()->writer();
    }

    QTemporaryDir dir;
    QString path;
};
