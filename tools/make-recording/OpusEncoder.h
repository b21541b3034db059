#pragma once

#include "Encoder.h"

// Ogg Opus: one channel (mapping family 0) or several, one uncoupled stream
// per channel (mapping family 255). Granule positions count 48 kHz samples.
class OpusEncoder : public Encoder {
public:
    bool encode(const StreamSpec& spec, std::vector<Packet>& headers, std::vector<Packet>& data,
                std::string& error) override;
    double granuleToMs(std::int64_t granule) const override;
    std::string describe() const override;

private:
    int inputRate = 0;
    int encodingRate = 0;
    int channels = 0;
    int preSkip = 0;
};
