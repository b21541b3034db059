#include "Core/Decoder/PageDuration.h"

#include "Core/Decoder/Codecs/OpusHeader.h"
#include "Core/Decoder/Codecs/SpeexHeader.h"

#include <opus/opus.h>

#include <cmath>
#include <cstring>

namespace Harbend {

namespace {
// Samples in one Speex frame of the narrow, wide and ultra-wide modes.
const qint64 kSpeexFrameSamples[] = {160, 320, 640};
const int kOpusRate = 48000;
} // namespace

PageDuration::PageDuration(int serialno, const StreamInfo& streamInfo) : info(streamInfo)
{
    ogg_stream_init(&state, serialno);
    vorbis_info_init(&vorbis);
    vorbis_comment_init(&comment);
}

PageDuration::~PageDuration()
{
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&vorbis);
    ogg_stream_clear(&state);
}

qint64 PageDuration::take(ogg_page* page, qint64 pageTime)
{
    if (ogg_stream_pagein(&state, page) != 0)
        return pageTime;
    qint64 units = 0;
    qint64 packets = 0; // data packets
    ogg_packet packet;
    for (int result; (result = ogg_stream_packetout(&state, &packet)) != 0;) {
        if (result < 0)
            continue; // a gap: the packets after it still end on this page
        if (headersSeen < qint64(info.headerCount)) {
            readHeader(&packet);
            ++headersSeen;
            continue;
        }
        units += packetUnits(&packet);
        ++packets;
    }
    if (!(info.granuleRate > 0.0) || pageTime < 0)
        return pageTime;
    if (info.mediaType == MediaType::Video) {
        // A picture's time is where it begins: the page's own picture is at
        // its granule position, the earlier ones one frame apart before it.
        if (info.codec != Codec::Theora || packets <= 1)
            return pageTime;
        const double earlier = std::ceil((packets - 1) * 1000.0 / info.granuleRate);
        return earlier >= double(pageTime) ? 0 : pageTime - qint64(earlier);
    }
    // An audio granule position counts the samples up to the end of the page.
    const qint64 first = ogg_page_granulepos(page) - units - opusPreSkip;
    return first < 0 ? 0 : qint64(std::floor(first * 1000.0 / info.granuleRate));
}

qint64 PageDuration::packetUnits(ogg_packet* packet)
{
    switch (info.codec) {
    case Codec::Speex:
        return speexUnits;
    case Codec::Opus: {
        // The comment header travels with the data.
        if (packet->bytes >= 8 && std::memcmp(packet->packet, "OpusTags", 8) == 0)
            return 0;
        const int samples = opus_packet_get_nb_samples(packet->packet, opus_int32(packet->bytes), kOpusRate);
        return samples > 0 ? samples : 0;
    }
    case Codec::Vorbis: {
        const long block = vorbisReady ? vorbis_packet_blocksize(&vorbis, packet) : -1;
        if (block <= 0)
            return 0;
        // The first packet only primes the window: it gives no samples.
        const qint64 samples = previousBlock > 0 ? (previousBlock + block) / 4 : 0;
        previousBlock = block;
        return samples;
    }
    default:
        return 0;
    }
}

void PageDuration::readHeader(ogg_packet* packet)
{
    switch (info.codec) {
    case Codec::Speex:
        if (headersSeen == 0) {
            SpeexHeader header;
            if (header.read(packet->packet, packet->bytes) && header.modeId < 3)
                speexUnits = kSpeexFrameSamples[header.modeId] * qint64(header.framesPerPacket);
        }
        break;
    case Codec::Opus:
        if (headersSeen == 0) {
            OpusHeader header;
            if (header.read(packet->packet, packet->bytes))
                opusPreSkip = header.preSkip;
        }
        break;
    case Codec::Vorbis:
        packet->b_o_s = headersSeen == 0 ? 1 : 0;
        vorbisReady = vorbisReady && vorbis_synthesis_headerin(&vorbis, &comment, packet) == 0;
        break;
    default:
        break;
    }
}

} // namespace Harbend
