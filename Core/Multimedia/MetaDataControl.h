#pragma once

#include <QMap>
#include <QMetaDataReaderControl>
#include <QVariant>

namespace Harbend {

// Publishes the comments of the audio stream that plays, under the comments'
// own keys as spelled in the file.
class MetaDataControl : public QMetaDataReaderControl {
public:
    explicit MetaDataControl(QObject* parent);

    bool isMetaDataAvailable() const override;
    QVariant metaData(const QString& key) const override;
    QStringList availableMetaData() const override;

    // Both signal every call, changed or not.
    void setMetaData(const QMap<QString, QVariant>& data);
    void clearMetaData();

private:
    QMap<QString, QVariant> entries;
};

} // namespace Harbend
