#pragma once

#include <QSharedPointer>

#include <ogg/ogg.h>

namespace Harbend {

// An owned copy of one libogg packet, laid out like ogg_packet.
class OggPacket {
public:
    // e_o_s of the marker a stream queues at the end of the file (a real last packet has 512).
    static const long EndOfStreamMarker = 1024;

    OggPacket();
    explicit OggPacket(const ogg_packet& source);
    ~OggPacket();

    OggPacket(const OggPacket&) = delete;
    OggPacket& operator=(const OggPacket&) = delete;

    // No payload, e_o_s 1024, granule position and number the largest 64-bit value.
    static QSharedPointer<OggPacket> createEndOfStreamMarker();
    bool isEndOfStreamMarker() const { return e_o_s == EndOfStreamMarker; }

    unsigned char* packet;
    long bytes;
    long b_o_s;
    long e_o_s;
    ogg_int64_t granulepos;
    ogg_int64_t packetno;
};

} // namespace Harbend
