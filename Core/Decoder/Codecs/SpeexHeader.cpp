#include "Core/Decoder/Codecs/SpeexHeader.h"

#include "Core/Decoder/ByteReader.h"

namespace Harbend {

namespace {

const int kVersionIdOffset = 28;
const int kRateOffset = 36;
const int kModeIdOffset = 40;
const int kBitstreamVersionOffset = 44;
const int kChannelsOffset = 48;
const int kFramesPerPacketOffset = 64;
const int kExtraHeadersOffset = 68;

void writeLe32(unsigned char* at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

} // namespace

bool SpeexHeader::read(const unsigned char* packet, qint64 bytes)
{
    if (bytes < Bytes)
        return false;
    const ByteReader reader(packet, bytes);
    reader.le32(kVersionIdOffset, versionId);
    reader.le32(kRateOffset, rate);
    reader.le32(kModeIdOffset, modeId);
    reader.le32(kBitstreamVersionOffset, bitstreamVersion);
    reader.le32(kChannelsOffset, channels);
    reader.le32(kFramesPerPacketOffset, framesPerPacket);
    reader.le32(kExtraHeadersOffset, extraHeaders);
    return true;
}

void SpeexHeader::declareChannels(unsigned char* packet, quint32 channels)
{
    writeLe32(packet + kChannelsOffset, channels);
    writeLe32(packet + kExtraHeadersOffset, 0);
}

} // namespace Harbend
