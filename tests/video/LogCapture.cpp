#include "LogCapture.h"

#include "Core/Base/Logger.h"

#include <QFile>
#include <QRegularExpression>

LogCapture::LogCapture() : path(dir.filePath(QStringLiteral("log")))
{
    Harbend::Logging::SystemLogger::get()->writer().openFile(QFile::encodeName(path).constData());
}

LogCapture::~LogCapture() { Harbend::Logging::SystemLogger::get()->writer().close(); }

QStringList LogCapture::lines() const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList LogCapture::messages() const
{
    QStringList result;
    for (const QString& line : lines())
        result << line.mid(line.indexOf(QStringLiteral("] ")) + 2);
    return result;
}

QStringList LogCapture::entries() const
{
    static const QRegularExpression pattern(QStringLiteral(":: *(\\w+) :: \\[[^\\]]*\\(\\d+\\): (\\w+)\\] (.*)$"));
    QStringList result;
    for (const QString& line : lines()) {
        const QRegularExpressionMatch match = pattern.match(line);
        if (match.hasMatch())
            result << match.captured(1) + QLatin1Char(' ') + match.captured(2) + QStringLiteral(": ") +
                          match.captured(3);
    }
    return result;
}
