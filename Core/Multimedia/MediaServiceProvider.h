#pragma once

#include "Platform/QMediaServiceProvider.h"

namespace Harbend {

// Makes one player service per media player. The media widget installs the
// single instance with QMediaServiceProvider::setDefaultServiceProvider before
// it builds its QMediaPlayer.
class MediaServiceProvider : public QMediaServiceProvider {
    Q_OBJECT
public:
    MediaServiceProvider();

    QMediaService* requestService(const QByteArray& type, const QMediaServiceProviderHint& hint) override;
    void releaseService(QMediaService* service) override;
    QMultimedia::SupportEstimate hasSupport(const QByteArray& serviceType, const QString& mimeType,
                                            const QStringList& codecs, int flags) const override;
    QStringList supportedMimeTypes(const QByteArray& serviceType, int flags) const override;
    QList<QByteArray> devices(const QByteArray& serviceType) const override;
    QString deviceDescription(const QByteArray& serviceType, const QByteArray& device) override;
};

// The one provider, alive from library load to unload.
extern MediaServiceProvider g_serviceProvider;

} // namespace Harbend
