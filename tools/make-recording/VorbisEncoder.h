#pragma once

#include "Encoder.h"

class VorbisEncoder : public Encoder {
public:
    bool encode(const StreamSpec& spec, std::vector<Packet>& headers, std::vector<Packet>& data,
                std::string& error) override;
    double granuleToMs(std::int64_t granule) const override;
    std::string describe() const override;

private:
    int rate = 0;
    int channels = 0;
};
