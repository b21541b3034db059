#pragma once

#include "Packet.h"
#include "StreamSpec.h"

#include <memory>
#include <string>
#include <vector>

// Turns a stream spec into header and data packets. Data packets carry the
// granule positions they would have in the file (the first-data offset
// included); the last is the stream's last packet.
class Encoder {
public:
    virtual ~Encoder() {}
    // False with a message in error when the spec cannot be encoded.
    virtual bool encode(const StreamSpec& spec, std::vector<Packet>& headers, std::vector<Packet>& data,
                        std::string& error) = 0;
    // Milliseconds of a granule position by the rule the player uses.
    virtual double granuleToMs(std::int64_t granule) const = 0;
    // The time by which pages are interleaved: where the granule's data ends.
    virtual double pageEndMs(std::int64_t granule) const { return granuleToMs(granule); }
    // The stream's time range for the manifest (milliseconds): from the first
    // data to the end of the last.
    virtual double startMs(const StreamSpec& spec) const { return spec.start * 1000.0; }
    virtual double endMs(const StreamSpec& spec) const { return (spec.start + spec.duration) * 1000.0; }
    // Rate, channels or width, height, fps for the manifest.
    virtual std::string describe() const = 0;

    static std::unique_ptr<Encoder> create(const std::string& codec);
};
