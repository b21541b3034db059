#include "Core/Decoder/Codecs/DecoderAudioVorbis.h"

#include "Core/Decoder/AudioSample.h"

#include <cstring>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Decoder/Codecs/DecoderAudioVorbis";

const qint64 kBlockDuration = 40000000;
const int kVorbisHeaders = 3;

// libvorbis reads from a non-const ogg_packet.
ogg_packet asOggPacket(const OggPacket& source)
{
    ogg_packet result;
    result.packet = source.packet;
    result.bytes = source.bytes;
    result.b_o_s = source.b_o_s;
    result.e_o_s = source.e_o_s;
    result.granulepos = source.granulepos;
    result.packetno = source.packetno;
    return result;
}
} // namespace

Logging::Log DecoderAudioVorbis::ms_log("DecoderAudioVorbis", Logging::Log::systemLogger());

DecoderAudioVorbis::DecoderAudioVorbis()
{
    std::memset(&info, 0, sizeof info);
    std::memset(&dspState, 0, sizeof dspState);
    std::memset(&block, 0, sizeof block);
}

DecoderAudioVorbis::~DecoderAudioVorbis() { close(); }

bool DecoderAudioVorbis::open(Headers* headers)
{
    if (!headers) {
        HARBEND_LOG(Error, "Can't initialize Vorbis decoder, since the provided header list is NULL!");
        return false;
    }
    if (headers->isEmpty()) {
        HARBEND_LOG(Error, "Header list is empty! Can't initialize decoder!");
        return false;
    }
    if (headers->size() < kVorbisHeaders) {
        HARBEND_LOG(Error, "Header contain only %d packets instead of the required 3! Can't initialize decoder!",
                    int(headers->size()));
        return false;
    }
    vorbis_info_init(&info);
    infoReady = true;
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    for (int i = 0; i < kVorbisHeaders; ++i) {
        const OggPacket* header = headers->at(i).data();
        ogg_packet raw = header ? asOggPacket(*header) : ogg_packet();
        if (!header || vorbis_synthesis_headerin(&info, &comment, &raw) != 0) {
            HARBEND_LOG(Error, "Failed to decode header packet!");
            vorbis_comment_clear(&comment);
            return false;
        }
    }
    vorbis_comment_clear(&comment);
    if (info.rate <= 0 || info.channels <= 0) {
        HARBEND_LOG(Error, "Failed to decode header packet!");
        return false;
    }
    if (vorbis_synthesis_init(&dspState, &info) != 0) {
        HARBEND_LOG(Error, "Failed to initialize decoder!");
        return false;
    }
    dspReady = true;
    if (vorbis_block_init(&dspState, &block) != 0) {
        HARBEND_LOG(Error, "Failed to initialize Vorbis block!");
        return false;
    }
    blockReady = true;
    blockDuration = kBlockDuration;
    blockFrames = quint32(info.rate / 25);
    filled = 0;
    time = 0;
    pending = nullptr;
    HARBEND_LOG(Success, "Successfully initialized Vorbis decoder.");
    return true;
}

bool DecoderAudioVorbis::decode(QSharedPointer<OggPacket> packet, Sample*& sample)
{
    if (isEmpty(packet) || !blockReady || blockFrames == 0)
        return true;
    if (!alignment.active())
        return decodePacket(packet, sample);
    if (alignment.holding()) {
        // The granule position tells where the last frame decoded ends.
        if (!alignment.hold(packet, framesOf(*packet), packet->granulepos))
            return true;
        time = alignment.keptTime();
    }
    return alignment.replay(sample, [&](const QSharedPointer<OggPacket>& held) { return decodePacket(held, sample); });
}

qint64 DecoderAudioVorbis::framesOf(const OggPacket& packet)
{
    ogg_packet raw = asOggPacket(packet);
    const long size = vorbis_packet_blocksize(&info, &raw);
    // Each packet returns from the middle of the one before to its own middle.
    const qint64 frames = size > 0 && previousBlockSize > 0 ? (previousBlockSize + size) / 4 : 0;
    previousBlockSize = size;
    return frames;
}

bool DecoderAudioVorbis::decodePacket(const QSharedPointer<OggPacket>& packet, Sample*& sample)
{
    if (!pending) {
        pending = newAudioBlock(time, blockDuration, info.channels, int(blockFrames), ms_log, kLogSource);
        if (!pending)
            return true;
        filled = 0;
    }
    bool submitted = false;
    while (filled < blockFrames) {
        float** pcm = nullptr;
        int available = vorbis_synthesis_pcmout(&dspState, &pcm);
        while (available <= 0) {
            if (submitted)
                return true;
            ogg_packet raw = asOggPacket(*packet);
            submitted = true;
            if (vorbis_synthesis(&block, &raw) != 0) {
                HARBEND_LOG(Warning, "Failed to read packet!");
                return true;
            }
            if (vorbis_synthesis_blockin(&dspState, &block) != 0) {
                HARBEND_LOG(Warning, "Failed to decode data!");
                return true;
            }
            available = vorbis_synthesis_pcmout(&dspState, &pcm);
        }
        if (const qint64 dropped = alignment.drop(available)) {
            vorbis_synthesis_read(&dspState, int(dropped));
            continue;
        }
        const quint32 count = qMin(quint32(available), blockFrames - filled);
        for (int c = 0; c < info.channels; ++c)
            std::memcpy(pending->data + size_t(c) * blockFrames + filled, pcm[c], count * sizeof(float));
        if (vorbis_synthesis_read(&dspState, int(count)) != 0)
            HARBEND_LOG(Warning, "Failed to set the number of read samples, expect problems!");
        filled += count;
    }
    pending->time = time;
    time += blockDuration;
    sample = pending;
    pending = nullptr;
    return submitted;
}

bool DecoderAudioVorbis::seeked(qint64 ns)
{
    time = ns;
    alignment.start(ns, info.rate);
    previousBlockSize = -1;
    // A block begun before the seek would carry its old time.
    delete pending;
    pending = nullptr;
    filled = 0;
    if (!dspReady)
        return true;
    if (vorbis_synthesis_restart(&dspState) < 0) {
        HARBEND_LOG(Warning, "Failed to restart Vorbis synthesis state!");
        return false;
    }
    return true;
}

void DecoderAudioVorbis::close()
{
    if (blockReady)
        vorbis_block_clear(&block);
    if (dspReady)
        vorbis_dsp_clear(&dspState);
    if (infoReady)
        vorbis_info_clear(&info);
    std::memset(&block, 0, sizeof block);
    std::memset(&dspState, 0, sizeof dspState);
    std::memset(&info, 0, sizeof info);
    blockReady = dspReady = infoReady = false;
    time = 0;
    blockFrames = 0;
    blockDuration = 0;
    filled = 0;
    delete pending;
    pending = nullptr;
    alignment.reset();
    HARBEND_LOG(Info, "Closed Vorbis decoder.");
}

} // namespace Harbend
