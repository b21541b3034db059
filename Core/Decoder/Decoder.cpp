#include "Core/Decoder/Decoder.h"

#include "Core/Decoder/AudioSample.h"
#include "Core/Decoder/Codecs/DecoderAudioOpus.h"
#include "Core/Decoder/Codecs/DecoderAudioSpeex.h"
#include "Core/Decoder/Codecs/DecoderAudioVorbis.h"
#include "Core/Decoder/Codecs/DecoderVideoDirac.h"
#include "Core/Decoder/Codecs/DecoderVideoTheora.h"

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Decoder/Decoder";
} // namespace

Logging::Log Decoder::ms_log("Decoder", Logging::Log::systemLogger());

Decoder* Decoder::createDecoder(Codec::Enum codec)
{
    switch (codec) {
    case Codec::Opus:
        return new DecoderAudioOpus;
    case Codec::Speex:
        return new DecoderAudioSpeex;
    case Codec::Vorbis:
        return new DecoderAudioVorbis;
    case Codec::Theora:
        return new DecoderVideoTheora;
    case Codec::Dirac:
        return new DecoderVideoDirac;
    default:
        HARBEND_LOG(Error, "Unsupported codec requested!");
        return nullptr;
    }
}

OggPacket* Decoder::firstHeader(Headers* headers, const char* codecName, const Logging::Log& log, const char* source)
{
    if (!headers) {
        HARBEND_LOG_THROUGH(log, source, Error, "Can't initialize %s decoder, since the provided header list is NULL!",
                            codecName);
        return nullptr;
    }
    if (headers->isEmpty()) {
        HARBEND_LOG_THROUGH(log, source, Error, "Header list is empty! Can't initialize decoder!");
        return nullptr;
    }
    OggPacket* header = headers->first().data();
    if (!header)
        HARBEND_LOG_THROUGH(log, source, Error, "Failed to get the header packet! Can't initialize!");
    return header;
}

AudioSample* Decoder::newAudioBlock(qint64 time, qint64 duration, int channels, int frames, const Logging::Log& log,
                                    const char* source)
{
    AudioSample* block = new AudioSample;
    block->time = time;
    block->duration = duration;
    if (!block->allocate(channels, frames)) {
        HARBEND_LOG_THROUGH(log, source, Error, "Failed to allocate output audio buffer! Out of memory?");
        delete block;
        return nullptr;
    }
    return block;
}

} // namespace Harbend
