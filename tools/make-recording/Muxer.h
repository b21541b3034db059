#pragma once

#include "Damage.h"
#include "Encoder.h"
#include "StreamSpec.h"

#include <memory>
#include <string>
#include <vector>

// Packs the streams' packets into Ogg pages, interleaves them by time, applies
// file damage and writes the recording and its manifest.
class Muxer {
public:
    struct Stream {
        StreamSpec spec;
        std::unique_ptr<Encoder> encoder;
        std::vector<Packet> headers;
        std::vector<Packet> data;
    };

    bool write(std::vector<Stream>& streams, const Damage& damage, const std::string& path, std::string& error);
};
