#include "Core/Base/LogExtendedFormatPolicy.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <cstdio>

namespace Harbend {

void LogExtendedFormatPolicy::format(char* buffer, unsigned size, const char* message, const char* name,
                                     const SourceInfo& source, LogLevel::Enum level) const
{
    if (size == 0)
        return;
    const QTime time = QTime::currentTime();
    const QDate date = QDate::currentDate();
    const QByteArray stamp =
        QDateTime(date, time, Qt::LocalTime).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss,zzz")).toLatin1();
    std::snprintf(buffer, size, "%s :: %7s :: [%s(%u): %s] %s", stamp.constData(), LogLevel::name(level), source.file,
                  source.line, name, message);
}

} // namespace Harbend
