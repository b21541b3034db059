#pragma once

#include "Core/Decoder/StreamInfo.h"

#include <QtGlobal>

#include <ogg/ogg.h>
#include <vorbis/codec.h>

namespace Harbend {

// Follows one logical stream page by page and tells how much of the time
// before a page's granule position its completed packets cover, so that the
// time of the stream's first sample (or picture) can be taken from its first
// data page. Codecs whose packet lengths it cannot tell cover nothing.
class PageDuration {
public:
    PageDuration(int serialno, const StreamInfo& info);
    ~PageDuration();

    PageDuration(const PageDuration&) = delete;
    PageDuration& operator=(const PageDuration&) = delete;

    // The stream's pages in file order. Returns the milliseconds between the
    // time of the page's granule position and the first sample of the data
    // packets that end on it (for Opus, past the pre-skip as well).
    qint64 take(ogg_page* page);

private:
    // Granule units of one data packet; headers count nothing.
    qint64 packetUnits(ogg_packet* packet);
    void readHeader(ogg_packet* packet);

    StreamInfo info;
    ogg_stream_state state;
    qint64 headersSeen = 0;
    // Speex: samples in each packet.
    qint64 speexUnits = 0;
    // Opus: samples at the start that only prime the decoder.
    qint64 opusPreSkip = 0;
    // Vorbis: the headers give the block sizes; a packet's samples depend on
    // its own block and the previous one's.
    vorbis_info vorbis;
    vorbis_comment comment;
    bool vorbisReady = true;
    long previousBlock = 0;
};

} // namespace Harbend
