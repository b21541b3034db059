#include "Core/Multimedia/VideoOutputThread.h"

#include "Core/Decoder/SampleQueue.h"
#include "Core/Decoder/VideoSample.h"
#include "Core/Multimedia/Synchronizer.h"

#include <QAbstractVideoSurface>

#include <cmath>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Multimedia/PlayerSession";
const unsigned long kLongestSleepUs = 100000;
// A frame further away than twice this is approached in one nap that ends
// this much before its time; the last stretch is slept whole. Two or three
// wake-ups per frame then suffice, where short naps re-reading a clock that
// moves in steps cost most of the player's CPU.
const quint64 kMarginNs = 2000000;
// The clock moves in steps: a shorter nap would mostly find it unchanged.
const unsigned long kShortestSleepUs = 1000;
// Used when the format names no usable frame rate.
const unsigned long kDefaultIdleUs = 20000;
} // namespace

Logging::Log VideoOutputThread::ms_log("VideoOutputThread", Logging::Log::systemLogger());

VideoOutputThread::VideoOutputThread(QObject* session, quint64 playback, QAbstractVideoSurface* surface,
                                     Synchronizer* clock, SampleQueue* queue, double frameRate)
    : OutputThread(session, playback), surface(surface), clock(clock), queue(queue), idle(idleSleep(frameRate))
{
}

unsigned long VideoOutputThread::idleSleep(double frameRate)
{
    if (!std::isfinite(frameRate) || frameRate <= 0.0)
        return kDefaultIdleUs;
    const double us = 500000.0 / frameRate;
    return us >= double(kLongestSleepUs) ? kLongestSleepUs : static_cast<unsigned long>(us);
}

unsigned long VideoOutputThread::waitSleep(quint64 remainingNs)
{
    const quint64 ns = remainingNs > 2 * kMarginNs ? remainingNs - kMarginNs : remainingNs;
    const quint64 us = ns / 1000;
    if (us < kShortestSleepUs)
        return kShortestSleepUs;
    return us > kLongestSleepUs ? kLongestSleepUs : static_cast<unsigned long>(us);
}

void VideoOutputThread::run()
{
    HARBEND_LOG(Debug, "Starting video output thread.");
    clock->start();
    for (;;) {
        const State wanted = state();
        if (wanted == Stop) {
            HARBEND_LOG(Debug, "Stopping video output thread.");
            return;
        }
        if (wanted == Paused) {
            waitWhilePaused();
            continue;
        }
        const QSharedPointer<Sample> sample = queue->dequeueSample();
        if (!sample) {
            rest(idle);
            continue;
        }
        if (sample->type == Sample::EndOfStream) {
            // The last picture stays on the surface while the sound plays on.
            queue->close();
            queue->clear();
            reportEnd();
            continue;
        }
        if (sample->type != Sample::Video)
            continue;
        // A frame without a time (negative) is due at once.
        const quint64 due = sample->time > 0 ? quint64(sample->time) : 0;
        for (quint64 now = clock->elapsed(); due > now && playing(); now = clock->elapsed())
            rest(waitSleep(due - now));
        // A pause or a seek while the frame waits drops it.
        if (playing())
            surface->present(static_cast<VideoSample*>(sample.data())->frame);
    }
}

} // namespace Harbend
