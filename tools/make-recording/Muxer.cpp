#include "Muxer.h"

#include "Json.h"

#include <ogg/ogg.h>

#include <cmath>
#include <cstdio>
#include <sstream>

namespace {

enum PageKind { BosPage, HeaderPage, DataPage };

struct Page {
    std::vector<unsigned char> bytes;
    size_t stream = 0;
    int serial = 0;
    long long granule = -1;
    bool bos = false, eos = false, continued = false;
    int packets = 0;
    double timeMs = 0.0; // the granule's time by the player's rule
    double sortMs = 0.0; // where the page's data ends, for interleaving
    PageKind kind = DataPage;
    std::string damage;
    long long offset = 0;
};

Page takePage(const ogg_page& page, size_t stream, PageKind kind)
{
    Page out;
    out.bytes.assign(page.header, page.header + page.header_len);
    out.bytes.insert(out.bytes.end(), page.body, page.body + page.body_len);
    out.stream = stream;
    out.serial = ogg_page_serialno(&page);
    out.granule = ogg_page_granulepos(&page);
    out.bos = ogg_page_bos(&page) != 0;
    out.eos = ogg_page_eos(&page) != 0;
    out.continued = ogg_page_continued(&page) != 0;
    out.packets = ogg_page_packets(&page);
    out.kind = kind;
    return out;
}

// Deterministic junk that never contains "OggS".
std::vector<unsigned char> junk(size_t count, unsigned seed)
{
    std::vector<unsigned char> out(count);
    unsigned state = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        unsigned char c = static_cast<unsigned char>(state >> 16);
        out[i] = c == 'O' ? 'o' : c;
    }
    return out;
}

void putPacket(ogg_stream_state& state, const Packet& packet, long long number, bool bos, bool eos)
{
    ogg_packet op;
    op.packet = const_cast<unsigned char*>(packet.data.data());
    op.bytes = long(packet.data.size());
    op.b_o_s = bos ? 1 : 0;
    op.e_o_s = eos ? 1 : 0;
    op.granulepos = packet.granule;
    op.packetno = number;
    ogg_stream_packetin(&state, &op);
}

// The pages of one stream: its BOS page, its other header pages, its data pages.
std::vector<Page> paginate(Muxer::Stream& stream, size_t index)
{
    std::vector<Page> pages;
    ogg_stream_state state;
    ogg_stream_init(&state, stream.spec.serial);
    ogg_page page;
    long long number = 0;
    auto flush = [&](PageKind kind) {
        while (ogg_stream_flush(&state, &page) > 0)
            pages.push_back(takePage(page, index, kind));
    };
    putPacket(state, stream.headers[0], number++, true, false);
    flush(BosPage);
    for (size_t h = 1; h < stream.headers.size(); ++h)
        putPacket(state, stream.headers[h], number++, false, false);
    flush(HeaderPage);
    const int perPage = stream.spec.packetsPerPage;
    for (size_t p = 0; p < stream.data.size(); ++p) {
        putPacket(state, stream.data[p], number++, false, p + 1 == stream.data.size());
        if (perPage > 0) {
            if ((p + 1) % size_t(perPage) == 0)
                flush(DataPage);
        } else {
            while (ogg_stream_pageout(&state, &page) > 0)
                pages.push_back(takePage(page, index, DataPage));
        }
    }
    flush(DataPage);
    ogg_stream_clear(&state);
    double last = stream.spec.start * 1000.0;
    for (Page& out : pages) {
        if (out.kind == DataPage && out.granule >= 0) {
            last = stream.encoder->pageEndMs(out.granule);
            out.timeMs = stream.encoder->granuleToMs(out.granule);
        } else {
            out.timeMs = -1;
        }
        out.sortMs = out.kind == DataPage ? last : 0.0;
    }
    return pages;
}

std::string describeStream(const Muxer::Stream& stream, const std::vector<Page>& pages)
{
    const StreamSpec& spec = stream.spec;
    std::ostringstream out;
    out << "    {\"serial\": " << spec.serial << ", \"codec\": " << jsonString(spec.codec)
        << ", \"mediaType\": " << jsonString(spec.isVideo() ? "video" : "audio") << ", " << stream.encoder->describe()
        << ",\n     \"headerPackets\": " << stream.headers.size() << ", \"dataPackets\": " << stream.data.size()
        << ", \"startMs\": " << std::llround(stream.encoder->startMs(spec))
        << ", \"endMs\": " << std::llround(stream.encoder->endMs(spec));
    long long firstGranule = -1, lastGranule = -1;
    for (const Page& page : pages) {
        if (page.serial != spec.serial || page.kind != DataPage || page.granule < 0)
            continue;
        if (firstGranule < 0 && page.granule > 0)
            firstGranule = page.granule;
        lastGranule = page.granule;
    }
    out << ", \"firstGranule\": " << firstGranule
        << ", \"firstTimeMs\": " << (firstGranule < 0 ? -1 : (long long)stream.encoder->granuleToMs(firstGranule))
        << ", \"lastGranule\": " << lastGranule
        << ", \"lastTimeMs\": " << (lastGranule < 0 ? -1 : (long long)stream.encoder->granuleToMs(lastGranule));
    out << ",\n     \"comments\": {";
    bool first = true;
    for (const auto& entry : spec.comments) {
        out << (first ? "" : ", ") << jsonString(entry.first) << ": " << jsonString(entry.second);
        first = false;
    }
    out << "}";
    if (!spec.isVideo()) {
        const int channels = spec.codec == "speex" && spec.layout == "serial1" ? 13 : spec.channels;
        out << ", \"clicks\": " << spec.clicks << ",\n     \"tones\": [";
        for (int c = 0; c < channels; ++c) {
            out << (c ? ", " : "") << "{\"channel\": " << c
                << ", \"frequency\": " << spec.baseFrequency + c * spec.frequencyStep << ", \"level\": " << spec.level
                << ", \"damaged\": " << (c == spec.badChannel ? "true" : "false") << "}";
        }
        out << "]";
    }
    out << "}";
    return out.str();
}

} // namespace

bool Muxer::write(std::vector<Stream>& streams, const Damage& damage, const std::string& path, std::string& error)
{
    std::vector<std::vector<Page>> perStream;
    for (size_t i = 0; i < streams.size(); ++i)
        perStream.push_back(paginate(streams[i], i));

    std::vector<Page> pages;
    for (PageKind kind : {BosPage, HeaderPage})
        for (auto& list : perStream)
            for (Page& page : list)
                if (page.kind == kind)
                    pages.push_back(page);
    std::vector<size_t> next(perStream.size(), 0);
    for (size_t i = 0; i < perStream.size(); ++i)
        while (next[i] < perStream[i].size() && perStream[i][next[i]].kind != DataPage)
            ++next[i];
    for (;;) {
        size_t best = perStream.size();
        for (size_t i = 0; i < perStream.size(); ++i) {
            if (next[i] >= perStream[i].size())
                continue;
            if (best == perStream.size() || perStream[i][next[i]].sortMs < perStream[best][next[best]].sortMs)
                best = i;
        }
        if (best == perStream.size())
            break;
        pages.push_back(perStream[best][next[best]++]);
    }

    std::vector<size_t> dataPages;
    for (size_t i = 0; i < pages.size(); ++i)
        if (pages[i].kind == DataPage)
            dataPages.push_back(i);
    long long badCrc = damage.badCrcPage;
    if (badCrc == -2 && !dataPages.empty())
        badCrc = (long long)dataPages[dataPages.size() / 2];
    if (badCrc >= 0 && badCrc < (long long)pages.size()) {
        pages[size_t(badCrc)].bytes[22] ^= 0x5A;
        pages[size_t(badCrc)].damage = "bad-crc";
    }
    if (damage.truncateLastPage && !pages.empty()) {
        Page& last = pages.back();
        last.bytes.resize(last.bytes.size() / 2);
        last.damage = "truncated";
    }

    std::vector<unsigned char> file;
    std::ostringstream junkList;
    if (damage.noOggsStart) {
        const std::vector<unsigned char> bytes = junk(64, 1);
        file.insert(file.end(), bytes.begin(), bytes.end());
        junkList << "{\"offset\": 0, \"bytes\": 64}";
    }
    int dataIndex = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
        pages[i].offset = (long long)file.size();
        file.insert(file.end(), pages[i].bytes.begin(), pages[i].bytes.end());
        if (pages[i].kind == DataPage && damage.garbageEvery > 0 && ++dataIndex % damage.garbageEvery == 0 &&
            i + 1 < pages.size()) {
            const std::vector<unsigned char> bytes = junk(37, unsigned(i));
            junkList << (junkList.tellp() > 0 ? ", " : "") << "{\"offset\": " << file.size()
                     << ", \"bytes\": " << bytes.size() << "}";
            file.insert(file.end(), bytes.begin(), bytes.end());
        }
    }
    if (damage.truncateAt >= 0 && (size_t)damage.truncateAt < file.size())
        file.resize(size_t(damage.truncateAt));

    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size()) {
        if (out)
            std::fclose(out);
        error = "cannot write " + path;
        return false;
    }
    std::fclose(out);

    std::ostringstream manifest;
    const std::string name = path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    manifest << "{\n  \"file\": " << jsonString(name) << ",\n  \"bytes\": " << file.size() << ",\n  \"streams\": [\n";
    for (size_t i = 0; i < streams.size(); ++i)
        manifest << describeStream(streams[i], pages) << (i + 1 < streams.size() ? ",\n" : "\n");
    manifest << "  ],\n  \"damage\": {\"junk\": [" << junkList.str() << "], \"truncatedAt\": " << damage.truncateAt
             << "},\n  \"pages\": [\n";
    for (size_t i = 0; i < pages.size(); ++i) {
        const Page& page = pages[i];
        manifest << "    {\"offset\": " << page.offset << ", \"bytes\": " << page.bytes.size()
                 << ", \"serial\": " << page.serial << ", \"granule\": " << page.granule
                 << ", \"bos\": " << (page.bos ? "true" : "false") << ", \"eos\": " << (page.eos ? "true" : "false")
                 << ", \"continued\": " << (page.continued ? "true" : "false") << ", \"packets\": " << page.packets
                 << ", \"header\": " << (page.kind == DataPage ? "false" : "true")
                 << ", \"timeMs\": " << (long long)page.timeMs << ", \"damage\": " << jsonString(page.damage) << "}"
                 << (i + 1 < pages.size() ? ",\n" : "\n");
    }
    manifest << "  ]\n}\n";
    const std::string manifestPath = path + ".json";
    FILE* json = std::fopen(manifestPath.c_str(), "wb");
    const std::string text = manifest.str();
    if (!json || std::fwrite(text.data(), 1, text.size(), json) != text.size()) {
        if (json)
            std::fclose(json);
        error = "cannot write " + manifestPath;
        return false;
    }
    std::fclose(json);
    return true;
}
