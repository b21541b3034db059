#pragma once

#include "Core/Base/OggPacket.h"

#include <QSharedPointer>
#include <QVector>

namespace Harbend {

class AudioSample;
class Sample;

// Makes an audio decoder's output after a seek begin at the seek target.
// Reading resumes at a page before the target, and only some packets carry a
// granule position, so the time of the first packets is not known when they
// arrive: they are held until one with a granule position comes, which tells
// where the held packets begin. They are then decoded in order, and the
// frames before the target are dropped. Used on the decoding thread only.
class SeekAlignment {
public:
    // After a seek: output is to begin at targetNs; rate is the decoder's.
    void start(qint64 targetNs, int rate);
    // Nothing held, nothing to drop (open, close).
    void reset();

    // Whether packets are held or being decoded after a seek.
    bool active() const { return aligning; }
    // Whether the start is still unknown: packets go to hold().
    bool holding() const { return aligning && !known; }

    // Holds a packet that decodes to `frames` frames. endFrame: the frame at
    // which its output ends (from its granule position), or -1 when it has
    // none. True once the start is known: then decode the held packets with
    // replay(). Packets that never tell the time end the holding after a
    // while; their output then begins at the target.
    bool hold(const QSharedPointer<OggPacket>& packet, qint64 frames, qint64 endFrame);
    // The stream time (ns) of the first frame that the held packets decode
    // to, and of the first frame kept.
    qint64 startTime() const;
    qint64 keptTime() const;

    // Decodes the held packets in order through decodeOne (which has the
    // decoder's own meaning of its result) until one hands out a sample.
    // The result is the decoder's: true when the last held packet, the one
    // being passed, is done.
    template <typename DecodeOne>
    bool replay(Sample*& sample, DecodeOne decodeOne)
    {
        while (!held.isEmpty()) {
            const bool done = decodeOne(held.first());
            if (done)
                held.removeFirst();
            if (held.isEmpty()) {
                aligning = false;
                return done;
            }
            if (sample || !done)
                return false;
        }
        aligning = false;
        return true;
    }

    // Frames still to drop before the target.
    qint64 framesToDrop() const { return dropFrames; }
    // Drops up to `available` leading frames; returns how many.
    qint64 drop(qint64 available);
    // Keeps frames [first, first + count) of a planar block, moving its time on.
    static void keepFrames(AudioSample* block, int first, int count, int rate);

private:
    QVector<QSharedPointer<OggPacket>> held;
    bool aligning = false;
    bool known = false;
    int rate = 0;
    qint64 targetNs = 0;
    qint64 heldFrames = 0;
    qint64 startFrame = 0;
    qint64 dropFrames = 0;
};

} // namespace Harbend
