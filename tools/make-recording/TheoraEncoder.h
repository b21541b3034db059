#pragma once

#include "VideoEncoder.h"

// Theora 4:2:0 with the picture number drawn into every picture.
class TheoraEncoder : public VideoEncoder {
public:
    bool encode(const StreamSpec& spec, std::vector<Packet>& headers, std::vector<Packet>& data,
                std::string& error) override;
    double granuleToMs(std::int64_t granule) const override;
    double pageEndMs(std::int64_t granule) const override;
    std::string describe() const override;

private:
    int width = 0, height = 0, frameWidth = 0, frameHeight = 0;
    int shift = 0;
    int keyInterval = 0;
    int cellWidth = 0, cellHeight = 0;
};
