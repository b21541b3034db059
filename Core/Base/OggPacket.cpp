#include "Core/Base/OggPacket.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace Harbend {

OggPacket::OggPacket() : packet(nullptr), bytes(0), b_o_s(0), e_o_s(0), granulepos(0), packetno(0) {}

OggPacket::OggPacket(const ogg_packet& source)
    : packet(nullptr),
      bytes(source.bytes),
      b_o_s(source.b_o_s),
      e_o_s(source.e_o_s),
      granulepos(source.granulepos),
      packetno(source.packetno)
{
    if (bytes <= 0 || !source.packet) {
        bytes = 0;
        return;
    }
    packet = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(bytes)));
    if (!packet) {
        bytes = 0;
        return;
    }
    std::memcpy(packet, source.packet, static_cast<std::size_t>(bytes));
}

OggPacket::~OggPacket()
{
    if (packet)
        std::free(packet);
}

QSharedPointer<OggPacket> OggPacket::createEndOfStreamMarker()
{
    QSharedPointer<OggPacket> marker(new OggPacket);
    marker->e_o_s = EndOfStreamMarker;
    marker->granulepos = std::numeric_limits<ogg_int64_t>::max();
    marker->packetno = std::numeric_limits<ogg_int64_t>::max();
    return marker;
}

} // namespace Harbend
