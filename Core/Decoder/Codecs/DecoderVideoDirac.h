#pragma once

#include "Core/Decoder/Decoder.h"
#include "Core/Output/VideoBufferPool.h"

#include <QByteArray>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace Harbend {

// Dirac through libavcodec's decoder. Each call either emits one finished
// picture (and asks for the same packet again) or hands the packet to the
// library; the end-of-stream marker drains the pictures still held back.
class DecoderVideoDirac : public Decoder {
public:
    DecoderVideoDirac();
    ~DecoderVideoDirac() override;

    bool open(Headers* headers) override;
    void close() override;
    bool decode(QSharedPointer<OggPacket> packet, Sample*& sample) override;
    bool seeked(qint64 ns) override;

private:
    // Hands bytes to the library in a padded packet; false when it refuses them.
    bool push(const unsigned char* data, int bytes);
    // Takes a new sequence header as the one to give again after a seek.
    void adopt(const QByteArray& header);
    // Copies the library's picture into a sample; false when it cannot.
    bool emitPicture(Sample*& sample);
    // The time of the library's picture, from its own number.
    qint64 pictureTime() const;

    AVCodecContext* context;
    AVFrame* picture;
    AVPacket* packet;
    // The sequence header in force (its link to the unit before cleared),
    // given again after every seek.
    QByteArray sequenceHeader;
    quint32 frameDuration;
    // After a seek: pictures are dropped until an intra picture comes.
    bool waitIntra;
    // After a seek: pictures earlier than this (ns) are decoded but not shown,
    // since the pages after the seek point may begin with earlier pictures;
    // 0 again from the first picture shown.
    qint64 target;
    // The end-of-stream marker was handed over: the library is draining.
    bool draining;
    // Library errors in a row on one packet; bounded so that a call always ends.
    int failures;

    // Picture blocks come back here when the surface lets their frame go.
    const QSharedPointer<VideoBufferPool> pool{new VideoBufferPool};

    static Logging::Log ms_log;
};

} // namespace Harbend
