#pragma once

#include "Core/Decoder/StreamInfo.h"

#include <QtGlobal>

#include <ogg/ogg.h>
#include <vorbis/codec.h>

namespace Harbend {

// Follows one logical stream page by page and tells where the data of the
// packets that end on a page begins, so that the time of the stream's first
// sample (or picture) can be taken from its first data page. For codecs whose
// packet lengths it cannot tell, that is the page's own time.
class PageDuration {
public:
    PageDuration(int serialno, const StreamInfo& info);
    ~PageDuration();

    PageDuration(const PageDuration&) = delete;
    PageDuration& operator=(const PageDuration&) = delete;

    // The stream's pages in file order, each with the time of its granule
    // position (ms, -1 for none). Returns the time of the first sample (past
    // Opus's pre-skip) or picture of the data packets that end on it, not
    // below 0.
    qint64 take(ogg_page* page, qint64 pageTime);

private:
    // Granule units of one data packet.
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
