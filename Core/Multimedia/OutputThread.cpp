#include "Core/Multimedia/OutputThread.h"

#include "Core/Base/GuiThread.h"

#include <QDeadlineTimer>
#include <QMetaObject>

namespace Harbend {

OutputThread::OutputThread(QObject* session, quint64 playback) : session(session), playback(playback) {}

void OutputThread::awaitAcknowledgement(State from)
{
    condition.wakeAll();
    while (acknowledged == from && requested.load() != from)
        condition.wait(&mutex);
}

bool OutputThread::startPaused()
{
    Q_ASSERT(onGuiThread());
    QMutexLocker lock(&mutex);
    requested = Paused;
    acknowledged = -1;
    start(QThread::HighPriority);
    if (!isRunning())
        return false;
    while (acknowledged != Paused && acknowledged != Stop)
        condition.wait(&mutex);
    return acknowledged == Paused;
}

bool OutputThread::requestPause()
{
    Q_ASSERT(onGuiThread());
    QMutexLocker lock(&mutex);
    if (requested.load() != Play)
        return false;
    requested = Paused;
    awaitAcknowledgement(Play);
    return true;
}

bool OutputThread::requestResume()
{
    Q_ASSERT(onGuiThread());
    QMutexLocker lock(&mutex);
    if (requested.load() != Paused)
        return false;
    requested = Play;
    awaitAcknowledgement(Paused);
    return true;
}

void OutputThread::requestStop()
{
    Q_ASSERT(onGuiThread());
    {
        QMutexLocker lock(&mutex);
        requested = Stop;
        condition.wakeAll();
    }
    wait();
}

void OutputThread::waitWhilePaused()
{
    QMutexLocker lock(&mutex);
    acknowledged = Paused;
    condition.wakeAll();
    while (requested.load() == Paused)
        condition.wait(&mutex);
    acknowledged = requested.load();
    condition.wakeAll();
}

void OutputThread::rest(unsigned long microseconds)
{
    QDeadlineTimer deadline(Qt::PreciseTimer);
    deadline.setPreciseRemainingTime(0, qint64(microseconds) * 1000, Qt::PreciseTimer);
    QMutexLocker lock(&mutex);
    // Every change of state wakes the condition, so a pause never waits out the sleep.
    if (requested.load() == Play)
        condition.wait(&mutex, deadline);
}

void OutputThread::reportEnd()
{
    ended = true;
    // Queued: the session acts on it on its own thread, and only if this
    // playback is still the current one.
    QMetaObject::invokeMethod(session, "outputStopped", Qt::QueuedConnection, Q_ARG(quint64, playback));
}

} // namespace Harbend
