#include "Core/Decoder/SeekAlignment.h"

#include "Core/Decoder/AudioSample.h"

#include <QtGlobal>

#include <cstring>
#include <limits>

namespace Harbend {

namespace {

// A page completes at most 255 packets, so a granule position comes long
// before this many; a stream without any is played from the target.
const int kMostHeld = 1024;
// Frame numbers beyond this come from damaged granule positions.
const qint64 kLargestFrame = qint64(1) << 40;
// Never more than this is dropped after a seek.
const qint64 kLongestDropSeconds = 60;

// Saturates: frame numbers from damaged granule positions reach past 64-bit nanoseconds.
qint64 framesToNs(qint64 frames, int rate)
{
    const __int128 ns = __int128(frames) * 1000000000 / rate;
    return qint64(qBound<__int128>(std::numeric_limits<qint64>::min(), ns, std::numeric_limits<qint64>::max()));
}

} // namespace

void SeekAlignment::start(qint64 ns, int sampleRate)
{
    reset();
    if (sampleRate <= 0)
        return;
    aligning = true;
    rate = sampleRate;
    targetNs = qMax<qint64>(0, ns);
}

void SeekAlignment::reset()
{
    held.clear();
    aligning = false;
    known = false;
    heldFrames = 0;
    startFrame = 0;
    dropFrames = 0;
}

bool SeekAlignment::hold(const QSharedPointer<OggPacket>& packet, qint64 frames, qint64 endFrame)
{
    held.append(packet);
    heldFrames += qMax<qint64>(0, frames);
    const qint64 targetFrame = qint64(double(targetNs) * rate / 1e9 + 0.5);
    if (endFrame >= 0 && endFrame < kLargestFrame) {
        startFrame = qMax<qint64>(0, endFrame - heldFrames);
        dropFrames = qBound<qint64>(0, targetFrame - startFrame, kLongestDropSeconds * rate);
    } else if (held.size() >= kMostHeld) {
        startFrame = targetFrame;
        dropFrames = 0;
    } else {
        return false;
    }
    known = true;
    return true;
}

qint64 SeekAlignment::startTime() const { return framesToNs(startFrame, rate); }

qint64 SeekAlignment::keptTime() const { return framesToNs(startFrame + dropFrames, rate); }

qint64 SeekAlignment::drop(qint64 available)
{
    const qint64 dropped = qBound<qint64>(0, dropFrames, available);
    dropFrames -= dropped;
    return dropped;
}

void SeekAlignment::keepFrames(AudioSample* block, int first, int count, int rate)
{
    if (!block || first < 0 || count < 0 || first + count > block->frames)
        return;
    // Planes shrink in place: each moves to a lower address than its own.
    for (int c = 0; c < block->channels; ++c)
        std::memmove(block->data + size_t(c) * count, block->data + size_t(c) * block->frames + first,
                     size_t(count) * sizeof(float));
    block->frames = count;
    block->time += framesToNs(first, rate);
    block->duration = framesToNs(count, rate);
}

} // namespace Harbend
