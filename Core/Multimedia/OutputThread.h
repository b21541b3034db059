#pragma once

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

namespace Harbend {

// The state handshake shared by the audio and the video output thread. The
// controller (GUI thread) changes the requested state under the mutex; the
// thread acknowledges every change under the same mutex, and every wait loops
// on its condition, so neither side can miss the other's change. Only the
// controller stops a thread: one that has played its stream out says so and
// goes on waiting, so that the other stream can play to its own end and a
// seek can take both back.
class OutputThread : public QThread {
public:
    enum State { Stop = 0, Play = 1, Paused = 2 };

    // session receives outputStopped(quint64) queued when the stream has
    // played out, tagged with the playback given here.
    OutputThread(QObject* session, quint64 playback);

    // Whether the stream has played out since the start or the last clearEnd().
    bool hasEnded() const { return ended.load(); }
    // Controller side, while the thread is paused for a seek.
    void clearEnd() { ended = false; }

    // Controller side. Each returns whether the thread changed state.
    bool startPaused();
    bool requestPause();
    bool requestResume();
    void requestStop();
    State state() const { return State(requested.load()); }

protected:
    // Thread side: acknowledges the pause and sleeps until it is lifted.
    void waitWhilePaused();
    // Thread side, once the stream has played out: notes and reports it.
    void reportEnd();
    bool playing() const { return requested.load() == Play; }
    // Thread side: sleeps for the given time, or less when the state changes.
    void rest(unsigned long microseconds);

private:
    // Wakes everyone and waits, with the mutex held, while the thread has not
    // acknowledged what was asked.
    void awaitAcknowledgement(State from);

    // The handshake's lock; condition waits on it.
    QMutex mutex;
    QWaitCondition condition;
    // Fixed at construction.
    QObject* session;
    const quint64 playback;
    // Atomic: written under mutex, read by the thread outside it as well.
    std::atomic<int> requested{Paused};
    // Atomic: set by the thread, cleared by the controller while it is paused.
    std::atomic<bool> ended{false};
    // mutex.
    int acknowledged = -1;
};

} // namespace Harbend
