#include "Annotations/Duration.h"

#include "Core/Base/ClockParts.h"

#include <QStringList>

namespace {

const qint64 kSecondsPerDay = 86400;

// Time of day of a non-negative time; negative times count as 0.
Harbend::ClockParts clockParts(qint64 ms) { return Harbend::ClockParts(ms < 0 ? 0 : ms % (kSecondsPerDay * 1000)); }

QString twoDigits(const QString& number) { return number.rightJustified(2, QLatin1Char('0')); }

int readInt(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : 0;
}

// The number texts of an ISO 8601 duration, each "00" when the part is missing.
struct IsoParts {
    QString years, months, days, hours, minutes, seconds;
};

// Takes the number before the first `designator` from `rest`; the text after
// it, up to a second occurrence of the designator, stays in `rest`.
QString cut(QString& rest, QChar designator)
{
    if (rest.isEmpty())
        return QStringLiteral("00");
    const int at = rest.indexOf(designator);
    if (at < 0)
        return QStringLiteral("00");
    const QString number = rest.left(at);
    const int next = rest.indexOf(designator, at + 1);
    rest = next < 0 ? rest.mid(at + 1) : rest.mid(at + 1, next - at - 1);
    return number;
}

// Cuts a duration that begins with "P"; an "M" before the "T" is months, the
// first one after it minutes.
IsoParts cutIso(const QString& iso)
{
    IsoParts parts;
    QString rest = iso.mid(1);
    const int t = rest.indexOf(QLatin1Char('T'));
    QString timePart;
    if (t >= 0) {
        timePart = rest.mid(t + 1);
        rest = rest.left(t);
    }
    parts.years = cut(rest, QLatin1Char('Y'));
    parts.months = cut(rest, QLatin1Char('M'));
    parts.days = cut(rest, QLatin1Char('D'));
    rest += timePart;
    parts.hours = cut(rest, QLatin1Char('H'));
    parts.minutes = cut(rest, QLatin1Char('M'));
    parts.seconds = cut(rest, QLatin1Char('S'));
    return parts;
}

bool isDuration(const QString& iso) { return iso.startsWith(QLatin1Char('P')); }

} // namespace

QString Duration::msToTf(qint64 ms)
{
    const Harbend::ClockParts parts = clockParts(ms);
    return QStringList({twoDigits(QString::number(parts.hours)), twoDigits(QString::number(parts.minutes)),
                        twoDigits(QString::number(parts.seconds))})
        .join(QLatin1Char(':'));
}

qint64 Duration::tfToMs(QString tf)
{
    if (tf.isEmpty())
        return 0;
    const QStringList fields = tf.split(QLatin1Char(':'));
    qint64 total = 0;
    for (int i = 0; i < 3; ++i)
        total = total * 60 + (i < fields.size() ? readInt(fields[i]) : 0);
    return total * 1000;
}

QString Duration::msToIso(qint64 ms)
{
    const QString zero = QStringLiteral("PT0.0S");
    if (ms <= 0)
        return zero;
    const Harbend::ClockParts parts = clockParts(ms);
    const qint64 hundredths = (ms % 1000) / 10;
    QString text = QStringLiteral("PT");
    if (parts.hours > 0)
        text += QString::number(parts.hours) + QLatin1Char('H');
    if (parts.minutes > 0)
        text += QString::number(parts.minutes) + QLatin1Char('M');
    if (parts.seconds > 0 || hundredths > 0) {
        text += QString::number(parts.seconds);
        if (hundredths > 0)
            text += QLatin1Char('.') + twoDigits(QString::number(hundredths));
        text += QLatin1Char('S');
    }
    return text.size() == 2 ? zero : text;
}

qint64 Duration::isoToMs(QString iso)
{
    if (!isDuration(iso))
        return 0;
    const IsoParts parts = cutIso(iso);
    QString whole = parts.seconds;
    qint64 fraction = 0;
    const int dot = whole.indexOf(QLatin1Char('.'));
    if (dot >= 0) {
        const QString digits = whole.mid(dot + 1).left(3);
        whole = whole.left(dot);
        static const int scale[] = {0, 100, 10, 1};
        fraction = qint64(readInt(digits)) * scale[digits.size()];
    }
    const qint64 seconds = qint64(readInt(parts.hours)) * 3600 + qint64(readInt(parts.minutes)) * 60 + readInt(whole);
    return seconds * 1000 + fraction;
}

QString Duration::isoToTf(QString iso)
{
    if (!isDuration(iso))
        return QString();
    const IsoParts parts = cutIso(iso);
    const QString seconds = parts.seconds.section(QLatin1Char('.'), 0, 0);
    return QStringList({twoDigits(parts.hours), twoDigits(parts.minutes), twoDigits(seconds)}).join(QLatin1Char(':'));
}
