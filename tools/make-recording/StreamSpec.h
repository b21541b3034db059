#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One logical stream asked for on the command line.
struct StreamSpec {
    std::string codec; // vorbis, opus, speex, theora, dirac
    int serial = 0;
    double start = 0.0;     // time of the first data, seconds
    double duration = 0.0;  // seconds
    int packetsPerPage = 0; // 0: libogg chooses
    // audio
    int rate = 0;
    int channels = 1;
    double level = 0.3; // amplitude of each tone, 0 to 1
    double baseFrequency = 300.0;
    double frequencyStep = 150.0;
    double clicks = 0.0;               // seconds between sync clicks, 0 for none
    int inputRate = 48000;             // opus: the header's input rate
    int frameMs = 20;                  // opus
    int bitrate = 0;                   // opus: bits per second, 0 for 24000 a channel
    std::string application = "audio"; // opus: audio, voip, lowdelay (CELT only)
    std::string mode = "wide";         // speex: narrow, wide, ultra
    int framesPerPacket = 1;           // speex
    std::string layout = "header";     // speex: header, serial1
    double quality = -1.0;
    // Every other stretch of this many seconds is busy (noise over the tone or
    // the lower half of the picture), so that the bit rate varies; 0: never.
    double busy = 0.0;
    // video
    int width = 320;
    int height = 240;
    int fpsNumerator = 25;
    int fpsDenominator = 1;
    int keyInterval = 32;
    // damage to the stream's own packets
    int badChannel = -1;          // speex: this channel's bits are garbage
    int truncatedRecordEvery = 0; // speex: every n-th packet loses its last record's end
    std::vector<std::pair<int, std::vector<unsigned char>>> headerPatches; // offset, bytes
    std::map<std::string, std::string> comments;

    // Whether time t (seconds from the first data) falls in a busy stretch.
    bool busyAt(double t) const { return busy > 0.0 && static_cast<long long>(t / busy) % 2 == 1; }
    // Deterministic noise in -1..1 for one position.
    static double noise(std::uint64_t position)
    {
        position = (position ^ (position >> 33)) * 0xff51afd7ed558ccdULL;
        position = (position ^ (position >> 33)) * 0xc4ceb9fe1a85ec53ULL;
        return double(position >> 11) / double(1ULL << 52) - 1.0;
    }

    bool isVideo() const { return codec == "theora" || codec == "dirac"; }
};
