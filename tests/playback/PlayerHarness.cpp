#include "PlayerHarness.h"

#include "../streams/Recording.h"

#include "Core/Multimedia/AudioChannelControl.h"
#include "Core/Multimedia/MediaServiceProvider.h"
#include "Core/Multimedia/PlayerControl.h"
#include "Core/Multimedia/PlayerService.h"

#include <QFile>
#include <QMediaPlayerControl>

namespace PlaybackTest {

PlayerHarness::PlayerHarness()
{
    QMediaServiceProvider::setDefaultServiceProvider(&Harbend::g_serviceProvider);
    player.reset(new QMediaPlayer);
    QMediaServiceProvider::setDefaultServiceProvider(nullptr);
    service = qobject_cast<Harbend::PlayerService*>(player->service());
    if (service) {
        control = qobject_cast<Harbend::PlayerControl*>(service->requestControl(QMediaPlayerControl_iid));
        channels = qobject_cast<Harbend::AudioChannelControl*>(
            service->requestControl(Harbend::PlayerService::AudioChannelControlId));
    }
}

PlayerHarness::~PlayerHarness()
{
    if (player)
        player->stop();
}

QString Recordings::get(const QString& name, const QStringList& arguments)
{
    const QString path = folder.path() + "/" + name;
    if (QFile::exists(path))
        return path;
    QString error;
    const QString made = Recording::make(folder.path(), name, arguments, &error);
    if (made.isEmpty())
        qWarning("make-recording failed: %s", qPrintable(error));
    return made;
}

namespace {
qint64 statusField(const char* name)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(name))
            return line.mid(int(qstrlen(name))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}
} // namespace

int threadCount() { return int(statusField("Threads:")); }

qint64 residentKb() { return statusField("VmRSS:"); }

} // namespace PlaybackTest
