#pragma once

#include "VideoEncoder.h"

// Dirac (VC-2 pictures from libavcodec) wrapped into Ogg: the first packet is
// a sequence header alone, every later packet a sequence header and one
// picture; granule positions are picture numbers shifted left by 32.
class DiracEncoder : public VideoEncoder {
public:
    bool encode(const StreamSpec& spec, std::vector<Packet>& headers, std::vector<Packet>& data,
                std::string& error) override;
    double granuleToMs(std::int64_t granule) const override;
    double pageEndMs(std::int64_t granule) const override;
    std::string describe() const override;

private:
    int width = 0, height = 0;
    int cellWidth = 0, cellHeight = 0;
};
