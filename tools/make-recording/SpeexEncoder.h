#pragma once

#include "Encoder.h"

// Speex: plain packets for one channel; for more, one record per channel in
// each packet (32-bit little-endian length, then that channel's bits). The
// "serial1" layout declares 1 channel and 1 extra header and carries 13.
class SpeexEncoder : public Encoder {
public:
    bool encode(const StreamSpec& spec, std::vector<Packet>& headers, std::vector<Packet>& data,
                std::string& error) override;
    double granuleToMs(std::int64_t granule) const override;
    std::string describe() const override;

private:
    int rate = 0;
    int channels = 0;
    int frameSize = 0;
    int framesPerPacket = 0;
    std::string mode;
};
