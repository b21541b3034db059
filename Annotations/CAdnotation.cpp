#include "Annotations/CAdnotation.h"

#include "Annotations/Duration.h"

CAdnotation::CAdnotation() = default;

CAdnotation::CAdnotation(QString time, QString text, QString protocol, int layerId)
    : time(time),
      text(text),
      protocol(protocol),
      isProtocol(protocol.toLower() == QLatin1String("true")),
      timeMs(Duration::isoToMs(time)),
      timeText(Duration::isoToTf(time)),
      layerId(layerId)
{
}

bool CAdnotation::operator<(const CAdnotation& other) const
{
    if (timeMs != other.timeMs)
        return timeMs < other.timeMs;
    return layerId < other.layerId;
}

void CAdnotation::setText(QString newText) { text = newText; }
