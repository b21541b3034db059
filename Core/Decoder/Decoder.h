#pragma once

#include "Core/Base/Log.h"
#include "Core/Base/OggPacket.h"
#include "Core/Decoder/Codec.h"

#include <QSharedPointer>
#include <QVector>

namespace Harbend {

class AudioSample;
class Sample;

// A codec decoder behind one logical stream. open() gets the stream's header
// packets (identification header first); decode() is called on the stream's
// decoding thread with a null sample pointer and hands out at most one sample
// per call, answering false when it wants the same packet again; seeked()
// moves the next output to a stream time in nanoseconds.
class Decoder {
public:
    typedef QVector<QSharedPointer<OggPacket>> Headers;

    virtual ~Decoder() {}
    virtual bool open(Headers* headers) = 0;
    virtual void close() = 0;
    virtual bool decode(QSharedPointer<OggPacket> packet, Sample*& sample) = 0;
    virtual bool seeked(qint64 ns) = 0;

    // The decoder for a codec, owned by the caller; null for other codecs.
    static Decoder* createDecoder(Codec::Enum codec);

protected:
    // The identification header from a header list, or null after logging
    // why the list cannot be used ("codecName" names the decoder in the text).
    static OggPacket* firstHeader(Headers* headers, const char* codecName, const Logging::Log& log, const char* source);

    // A planar audio block; null after logging when memory is short.
    static AudioSample* newAudioBlock(qint64 time, qint64 duration, int channels, int frames, const Logging::Log& log,
                                      const char* source);

    // Whether a packet carries no payload (the end-of-stream marker among them).
    static bool isEmpty(const QSharedPointer<OggPacket>& packet)
    {
        return !packet || packet->bytes <= 0 || !packet->packet;
    }

private:
    static Logging::Log ms_log;
};

} // namespace Harbend
