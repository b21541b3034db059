#include "Core/Multimedia/MetaDataControl.h"

namespace Harbend {

MetaDataControl::MetaDataControl(QObject* parent) : QMetaDataReaderControl(parent) {}

bool MetaDataControl::isMetaDataAvailable() const { return !entries.isEmpty(); }

QVariant MetaDataControl::metaData(const QString& key) const { return entries.value(key); }

QStringList MetaDataControl::availableMetaData() const { return entries.keys(); }

void MetaDataControl::setMetaData(const QMap<QString, QVariant>& data)
{
    entries = data;
    emit metaDataAvailableChanged(!entries.isEmpty());
    emit metaDataChanged();
}

void MetaDataControl::clearMetaData() { setMetaData(QMap<QString, QVariant>()); }

} // namespace Harbend
