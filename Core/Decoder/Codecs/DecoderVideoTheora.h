#pragma once

#include "Core/Decoder/Decoder.h"
#include "Core/Output/VideoBufferPool.h"
#include "Core/Output/VideoPlaneLayout.h"

#include <QVideoFrame>

#include <theora/theoradec.h>

namespace Harbend {

// Theora through libtheora: one picture at most per packet. After a seek it
// resumes at the next key frame and emits nothing before the target.
class DecoderVideoTheora : public Decoder {
public:
    DecoderVideoTheora();
    ~DecoderVideoTheora() override;

    bool open(Headers* headers) override;
    void close() override;
    bool decode(QSharedPointer<OggPacket> packet, Sample*& sample) override;
    bool seeked(qint64 ns) override;

    // For tests: the duration of one picture in nanoseconds.
    qint64 pictureDuration() const { return frameDuration; }
    // For tests: where the blocks of pictures let go wait for reuse.
    VideoBufferPool& bufferPool() const { return *pool; }

private:
    void emitPicture(Sample*& sample);

    th_dec_ctx* decoder;
    th_info info;
    bool infoReady;
    QVideoFrame::PixelFormat pixelFormat;
    quint64 frameBytes;
    qint64 frameDuration;
    qint64 time;
    qint64 target;
    VideoPlaneLayout layout;
    int granuleOffset;
    bool waitKeyFrame;
    // False after a seek until a packet's granule position gives the time
    // again: the pictures before it cannot be placed.
    bool timeKnown;

    // Picture blocks come back here when the surface lets their frame go.
    const QSharedPointer<VideoBufferPool> pool{new VideoBufferPool};

    static Logging::Log ms_log;
};

} // namespace Harbend
