#include "Core/Decoder/Codecs/OpusHeader.h"

#include "Core/Decoder/ByteReader.h"

namespace Harbend {

namespace {
const int kFixedBytes = 19;
const int kMappingOffset = 21;
} // namespace

bool OpusHeader::read(const unsigned char* packet, qint64 bytes)
{
    const ByteReader reader(packet, bytes);
    if (!reader.has(0, kFixedBytes))
        return false;
    reader.u8(8, version);
    reader.u8(9, channels);
    reader.le16(10, preSkip);
    reader.le32(12, inputRate);
    reader.u8(18, family);
    if (reader.has(kMappingOffset, channels)) {
        reader.u8(19, streams);
        reader.u8(20, coupled);
        mapping = packet + kMappingOffset;
    }
    return true;
}

} // namespace Harbend
