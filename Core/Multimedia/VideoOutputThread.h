#pragma once

#include "Core/Base/Log.h"
#include "Core/Multimedia/OutputThread.h"

class QAbstractVideoSurface;

namespace Harbend {

class SampleQueue;
class Synchronizer;

// Presents each video frame when the clock reaches its time; a late frame is
// presented at once, never dropped. At the end of the stream the last picture
// stays shown and the thread waits for a seek or the stop.
class VideoOutputThread : public OutputThread {
public:
    VideoOutputThread(QObject* session, quint64 playback, QAbstractVideoSurface* surface, Synchronizer* clock,
                      SampleQueue* queue, double frameRate);

    // Microseconds to sleep while no frame waits: half a frame period,
    // bounded for rates of 0 and below and for very slow ones.
    static unsigned long idleSleep(double frameRate);
    // Microseconds to sleep while a frame waits for the clock: up to a little
    // before its time when it is further away, else the whole remaining time;
    // at least 1 ms and at most 0.1 s.
    static unsigned long waitSleep(quint64 remainingNs);

protected:
    void run() override;

private:
    friend class PlayerSession;

    static Logging::Log ms_log;

    // Fixed at construction. The surface's present() runs on this thread, the
    // clock is read without a lock (it changes only while the thread is paused)
    // and the queue is locked inside.
    QAbstractVideoSurface* surface;
    Synchronizer* clock;
    SampleQueue* queue;
    const unsigned long idle;
};

} // namespace Harbend
