#include "Core/Multimedia/MediaServiceProvider.h"

#include "Core/Multimedia/PlayerService.h"

#include <QMediaServiceProviderPlugin>

namespace Harbend {

MediaServiceProvider g_serviceProvider;

namespace {
bool isPlayerService(const QByteArray& type) { return type == Q_MEDIASERVICE_MEDIAPLAYER; }
} // namespace

MediaServiceProvider::MediaServiceProvider() {}

QMediaService* MediaServiceProvider::requestService(const QByteArray& type, const QMediaServiceProviderHint&)
{
    return isPlayerService(type) ? new PlayerService(nullptr) : nullptr;
}

void MediaServiceProvider::releaseService(QMediaService* service) { delete service; }

QMultimedia::SupportEstimate MediaServiceProvider::hasSupport(const QByteArray& serviceType, const QString&,
                                                              const QStringList&, int) const
{
    return isPlayerService(serviceType) ? QMultimedia::ProbablySupported : QMultimedia::NotSupported;
}

QStringList MediaServiceProvider::supportedMimeTypes(const QByteArray&, int) const { return QStringList(); }

QList<QByteArray> MediaServiceProvider::devices(const QByteArray&) const { return QList<QByteArray>(); }

QString MediaServiceProvider::deviceDescription(const QByteArray&, const QByteArray&) { return QString(); }

} // namespace Harbend
