// make-recording: writes deterministic Ogg recordings for tests, benchmarks and
// the demo, with a JSON manifest (OUTPUT.json) beside each.

#include "Damage.h"
#include "Encoder.h"
#include "Muxer.h"
#include "StreamSpec.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kHelp[] = "Usage: make-recording [options] OUTPUT.ogg\n"
                     "Writes a deterministic Ogg recording and its manifest OUTPUT.ogg.json.\n"
                     "\n"
                     "Options:\n"
                     "  --stream CODEC[:KEY=VALUE,...]  add a logical stream; first pages follow the\n"
                     "                                  order of the --stream options\n"
                     "      CODEC: vorbis, opus, speex, theora, dirac\n"
                     "      every codec: serial=N (audio 1, video 100 by default), start=SECONDS (first\n"
                     "        data time), duration=SECONDS, pages=N (packets per page, 0: libogg\n"
                     "        chooses), patch=OFFSET:HEX (overwrite bytes of the identification\n"
                     "        header; may repeat)\n"
                     "      every codec: busy=SECONDS (every other stretch of that length carries\n"
                     "        noise, so the bit rate varies)\n"
                     "      audio: rate=HZ, channels=N, level=0..1, base=HZ (tone of channel 0),\n"
                     "        step=HZ (tone step per channel), clicks=SECONDS (sync clicks, and\n"
                     "        one ending with the stream), quality=Q\n"
                     "      opus: input-rate=HZ (48000, 16000, 44100, 0, ...), frame-ms=20|60|120,\n"
                     "        bitrate=BPS (24000 a channel by default),\n"
                     "        application=audio|voip|lowdelay (lowdelay: CELT only)\n"
                     "      speex: mode=narrow|wide|ultra, fpp=N (frames per packet), channels=1..13,\n"
                     "        layout=header|serial1 (serial1: header declares 1 channel and 1 extra\n"
                     "        header, packets carry 13 channels), bad-channel=C (that channel's bits\n"
                     "        are garbage), truncated-record-every=N (every N-th packet's last record\n"
                     "        is cut short)\n"
                     "      video: width=W, height=H, fps=N or N/D, keyint=N (theora key frames)\n"
                     "  --duration SECONDS     default stream duration (2)\n"
                     "  --comment KEY=VALUE    a comment in every stream's comment header (may repeat)\n"
                     "  --damage KIND[=ARG]    garbage=N (junk after every N-th data page),\n"
                     "                         bad-crc[=PAGE] (a middle data page by default),\n"
                     "                         truncate-last-page, no-oggs (junk before the first\n"
                     "                         page), truncate=BYTES\n"
                     "  --demo PATH            write a 20 s demo: 640x480 Theora (serial 100) and\n"
                     "                         13-channel Speex (serial 1), with two annotation\n"
                     "                         layers beside it (PATH's name with .xml, and a\n"
                     "                         read-only one with -clerk.xml)\n"
                     "  --help                 this text\n";

bool fail(const std::string& message)
{
    std::fprintf(stderr, "make-recording: %s\n", message.c_str());
    return false;
}

bool parseFps(const std::string& value, StreamSpec& spec)
{
    const size_t slash = value.find('/');
    spec.fpsNumerator = std::atoi(value.substr(0, slash).c_str());
    spec.fpsDenominator = slash == std::string::npos ? 1 : std::atoi(value.substr(slash + 1).c_str());
    return spec.fpsNumerator > 0 && spec.fpsDenominator > 0;
}

bool parsePatch(const std::string& value, StreamSpec& spec)
{
    const size_t colon = value.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string hex = value.substr(colon + 1);
    if (hex.size() % 2)
        return false;
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    spec.headerPatches.push_back({std::atoi(value.substr(0, colon).c_str()), bytes});
    return true;
}

bool setKey(StreamSpec& spec, const std::string& key, const std::string& value)
{
    const double number = std::atof(value.c_str());
    const int integer = std::atoi(value.c_str());
    if (key == "serial")
        spec.serial = integer;
    else if (key == "start")
        spec.start = number;
    else if (key == "duration")
        spec.duration = number;
    else if (key == "pages")
        spec.packetsPerPage = integer;
    else if (key == "rate")
        spec.rate = integer;
    else if (key == "channels")
        spec.channels = integer;
    else if (key == "level")
        spec.level = number;
    else if (key == "base")
        spec.baseFrequency = number;
    else if (key == "step")
        spec.frequencyStep = number;
    else if (key == "clicks")
        spec.clicks = number;
    else if (key == "quality")
        spec.quality = number;
    else if (key == "busy")
        spec.busy = number;
    else if (key == "input-rate")
        spec.inputRate = integer;
    else if (key == "bitrate")
        spec.bitrate = integer;
    else if (key == "frame-ms")
        spec.frameMs = integer;
    else if (key == "mode")
        spec.mode = value;
    else if (key == "application")
        spec.application = value;
    else if (key == "fpp")
        spec.framesPerPacket = integer;
    else if (key == "layout")
        spec.layout = value;
    else if (key == "bad-channel")
        spec.badChannel = integer;
    else if (key == "truncated-record-every")
        spec.truncatedRecordEvery = integer;
    else if (key == "width")
        spec.width = integer;
    else if (key == "height")
        spec.height = integer;
    else if (key == "fps")
        return parseFps(value, spec);
    else if (key == "keyint")
        spec.keyInterval = integer;
    else if (key == "patch")
        return parsePatch(value, spec);
    else
        return false;
    return true;
}

bool parseStream(const std::string& text, double duration, StreamSpec& spec)
{
    // "codec:key=value,..."; a bare "codec,key=value" is read the same way.
    size_t colon = text.find(':');
    const size_t comma = text.find(',');
    if (comma < colon)
        colon = comma;
    spec.codec = text.substr(0, colon);
    spec.duration = duration;
    spec.serial = -1;
    if (colon != std::string::npos) {
        std::stringstream list(text.substr(colon + 1));
        std::string item;
        while (std::getline(list, item, ',')) {
            const size_t equals = item.find('=');
            if (equals == std::string::npos || !setKey(spec, item.substr(0, equals), item.substr(equals + 1)))
                return fail("bad stream option '" + item + "' (see --help)");
        }
    }
    return true;
}

bool parseDamage(const std::string& text, Damage& damage)
{
    const size_t equals = text.find('=');
    const std::string kind = text.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : text.substr(equals + 1);
    if (kind == "garbage")
        damage.garbageEvery = value.empty() ? 5 : std::atoi(value.c_str());
    else if (kind == "bad-crc")
        damage.badCrcPage = value.empty() ? -2 : std::atoi(value.c_str());
    else if (kind == "truncate-last-page")
        damage.truncateLastPage = true;
    else if (kind == "no-oggs")
        damage.noOggsStart = true;
    else if (kind == "truncate")
        damage.truncateAt = std::atoll(value.c_str());
    else
        return fail("unknown damage '" + text + "'");
    return true;
}

// Serial numbers: audio 1 and video 100 unless given or taken.
void assignSerials(std::vector<StreamSpec>& specs)
{
    std::set<int> taken;
    for (const StreamSpec& spec : specs)
        if (spec.serial >= 0)
            taken.insert(spec.serial);
    for (StreamSpec& spec : specs) {
        if (spec.serial >= 0)
            continue;
        int serial = spec.isVideo() ? 100 : 1;
        while (taken.count(serial))
            ++serial;
        spec.serial = serial;
        taken.insert(serial);
    }
}

std::vector<StreamSpec> demoStreams()
{
    StreamSpec video;
    video.codec = "theora";
    video.serial = 100;
    video.duration = 20.0;
    video.width = 640;
    video.height = 480;
    video.fpsNumerator = 25;
    video.keyInterval = 50;
    StreamSpec audio;
    audio.codec = "speex";
    audio.serial = 1;
    audio.duration = 20.0;
    audio.mode = "wide";
    audio.layout = "serial1";
    audio.clicks = 1.0;
    audio.level = 0.15;
    const std::map<std::string, std::string> comments = {{"TITLE", "Nagranie demonstracyjne — rozprawa"},
                                                         {"LOCATION", "Sąd Rejonowy, sala 3"},
                                                         {"COMMENT", "Zażółć gęślą jaźń"}};
    video.comments = comments;
    audio.comments = comments;
    return {video, audio};
}

struct DemoAnnotation {
    const char* time;
    const char* text;
    bool protocol;
};

// An annotation layer file as the player reads and writes it.
bool writeLayer(const std::string& path, std::initializer_list<DemoAnnotation> annotations)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return fail("cannot write " + path);
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ArrayOfAnnotation Created=\"1700000000\">\n";
    for (const DemoAnnotation& a : annotations)
        text += std::string(" <Annotation Time=\"") + a.time + "\">\n  <Text>" + a.text + "</Text>\n  <Protocol>" +
                (a.protocol ? "true" : "false") + "</Protocol>\n </Annotation>\n";
    text += "</ArrayOfAnnotation>\n";
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written ? true : fail("cannot write " + path);
}

// The demo's layers, so that a first run shows the annotations panel at work: the
// recorder's own notes (one marked for the protocol) and the clerk's, which are read-only.
bool writeDemoLayers(const std::string& recording)
{
    const size_t dot = recording.rfind('.');
    const size_t slash = recording.rfind('/');
    const std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                                 ? recording.substr(0, dot)
                                 : recording;
    return writeLayer(stem + ".xml", {{"PT1S", "Otwarcie rozprawy, sprawdzenie obecności stron", false},
                                      {"PT4.5S", "Sędzia poucza świadka o odpowiedzialności karnej", true},
                                      {"PT8S", "Świadek składa zeznania", false},
                                      {"PT12S", "Pełnomocnik powoda zadaje pytania świadkowi", false},
                                      {"PT16S", "Przerwa w rozprawie", false},
                                      {"PT19S", "Zamknięcie posiedzenia", false}}) &&
           writeLayer(stem + "-clerk.xml", {{"PT3S", "Stawili się: powód z pełnomocnikiem, pozwany osobiście", false},
                                            {"PT14S", "Sąd postanowił dopuścić dowód z dokumentów", false}});
}

int run(int argc, char** argv)
{
    std::vector<StreamSpec> specs;
    std::vector<std::string> streamTexts;
    std::map<std::string, std::string> comments;
    Damage damage;
    double duration = 2.0;
    std::string output;
    bool demo = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (arg == "--stream" && hasValue) {
            streamTexts.push_back(argv[++i]);
        } else if (arg == "--duration" && hasValue) {
            duration = std::atof(argv[++i]);
        } else if (arg == "--comment" && hasValue) {
            const std::string text = argv[++i];
            const size_t equals = text.find('=');
            if (equals == std::string::npos)
                return fail("a comment is KEY=VALUE") ? 0 : 2;
            comments[text.substr(0, equals)] = text.substr(equals + 1);
        } else if (arg == "--damage" && hasValue) {
            if (!parseDamage(argv[++i], damage))
                return 2;
        } else if (arg == "--demo" && hasValue) {
            output = argv[++i];
            specs = demoStreams();
            demo = true;
        } else if (!arg.empty() && arg[0] != '-' && output.empty()) {
            output = arg;
        } else {
            fail("unknown or incomplete option '" + arg + "' (see --help)");
            return 2;
        }
    }
    for (const std::string& text : streamTexts) {
        StreamSpec spec;
        if (!parseStream(text, duration, spec))
            return 2;
        specs.push_back(spec);
    }
    if (output.empty() || specs.empty()) {
        std::fputs(kHelp, stderr);
        return 2;
    }
    assignSerials(specs);
    std::vector<Muxer::Stream> streams;
    for (StreamSpec& spec : specs) {
        for (const auto& entry : comments)
            spec.comments[entry.first] = entry.second;
        Muxer::Stream stream;
        stream.spec = spec;
        stream.encoder = Encoder::create(spec.codec);
        if (!stream.encoder) {
            fail("unknown codec '" + spec.codec + "'");
            return 2;
        }
        std::string error;
        if (!stream.encoder->encode(spec, stream.headers, stream.data, error) || stream.headers.empty()) {
            fail(spec.codec + ": " + error);
            return 1;
        }
        for (const auto& patch : spec.headerPatches) {
            std::vector<unsigned char>& header = stream.headers[0].data;
            const size_t end = size_t(patch.first) + patch.second.size();
            if (end > header.size())
                header.resize(end);
            std::copy(patch.second.begin(), patch.second.end(), header.begin() + patch.first);
        }
        streams.push_back(std::move(stream));
    }
    std::string error;
    if (!Muxer().write(streams, damage, output, error)) {
        fail(error);
        return 1;
    }
    return demo && !writeDemoLayers(output) ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) { return run(argc, argv); }
