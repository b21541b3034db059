#include "PacketStream.h"

#include "Core/Base/OggPacket.h"
#include "Core/Decoder/Decoder.h"
#include "Core/Decoder/OggStream.h"
#include "Core/Decoder/Sample.h"

#include <QScopedPointer>

#include <ogg/ogg.h>

using namespace Harbend;

namespace {

const int kSeekRecord = 0xffff;
// Calls for one packet before the next: bounds a decoder that keeps asking.
const int kCallsPerPacket = 64;
// Seek targets stay within a day-long recording.
const qint64 kSeekMask = (qint64(1) << 46) - 1;

quint64 littleEndian(const std::uint8_t* at, int bytes)
{
    quint64 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | at[i];
    return value;
}

ogg_packet rawPacket(const QByteArray& bytes, qint64 granule, qint64 number)
{
    ogg_packet raw{};
    raw.packet = reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.constData()));
    raw.bytes = bytes.size();
    raw.b_o_s = number == 0;
    raw.granulepos = granule;
    raw.packetno = number;
    return raw;
}

} // namespace

PacketStream::PacketStream(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return;
    serial = data[0];
    std::size_t at = 1;
    while (size - at >= 10) {
        const int length = int(littleEndian(data + at, 2));
        Record record{QByteArray(), qint64(littleEndian(data + at + 2, 8)), length == kSeekRecord};
        at += 10;
        if (!record.seek) {
            const std::size_t taken = std::min<std::size_t>(std::size_t(length), size - at);
            record.bytes = QByteArray(reinterpret_cast<const char*>(data + at), int(taken));
            at += taken;
        }
        records.append(record);
    }
}

QSharedPointer<OggPacket> PacketStream::packetOf(const QByteArray& bytes, qint64 granule, qint64 number) const
{
    const ogg_packet raw = rawPacket(bytes, granule, number);
    return makePacket ? makePacket(raw) : QSharedPointer<OggPacket>(new OggPacket(raw));
}

bool PacketStream::decode(const std::function<void(const Sample&, const StreamInfo&)>& check) const
{
    if (records.isEmpty() || records.first().seek)
        return false;
    OggStream stream(serial);
    // The parser may rewrite the header; the decoder gets it as rewritten.
    QByteArray first = records.first().bytes;
    first.detach();
    if (!stream.parseIdentification(reinterpret_cast<unsigned char*>(first.data()), first.size()))
        return false;
    const StreamInfo info = stream.streamInfo();
    Decoder::Headers headers;
    int index = 0;
    for (; index < records.size() && headers.size() < int(info.headerCount); ++index) {
        if (!records[index].seek)
            headers.append(packetOf(index == 0 ? first : records[index].bytes, records[index].granule, headers.size()));
    }
    if (headers.size() < int(info.headerCount))
        return false;
    QScopedPointer<Decoder> decoder(Decoder::createDecoder(info.codec));
    if (!decoder || !decoder->open(&headers))
        return false;
    qint64 number = headers.size();
    for (; index <= records.size(); ++index) {
        if (index < records.size() && records[index].seek) {
            decoder->seeked(records[index].granule & kSeekMask);
            continue;
        }
        const QSharedPointer<OggPacket> packet = index < records.size()
                                                     ? packetOf(records[index].bytes, records[index].granule, number++)
                                                     : OggPacket::createEndOfStreamMarker();
        for (int call = 0; call < kCallsPerPacket; ++call) {
            Sample* sample = nullptr;
            const bool finished = decoder->decode(packet, sample);
            if (sample) {
                QScopedPointer<Sample> owned(sample);
                check(*sample, info);
            }
            if (finished)
                break;
        }
    }
    decoder->close();
    return true;
}

void PacketStream::parseHeaders() const
{
    if (records.isEmpty() || records.first().seek)
        return;
    QByteArray first = records.first().bytes;
    first.detach();
    OggStream parsed(serial);
    parsed.parseIdentification(reinterpret_cast<unsigned char*>(first.data()), first.size());

    OggStream stream(serial);
    ogg_stream_state pager;
    ogg_stream_init(&pager, serial);
    qint64 number = 0;
    for (const Record& record : records) {
        if (record.seek)
            continue;
        ogg_packet raw = rawPacket(record.bytes, record.granule, number);
        ogg_stream_packetin(&pager, &raw);
        ogg_page page;
        bool taken = true;
        while (taken && ogg_stream_flush(&pager, &page))
            taken = number == 0 ? stream.putPageBOS(&page) : stream.putPage(&page, false);
        if (!taken && number == 0)
            break;
        stream.getTimeFromGranulepos(record.granule);
        stream.getPreviousGranulepos(record.granule);
        stream.getFirstPictureGranulepos(record.granule, int(number % 8) + 1);
        ++number;
    }
    ogg_stream_clear(&pager);
    if (stream.streamInfo().mediaType == MediaType::Audio)
        stream.getAudioFormat();
    else if (stream.streamInfo().mediaType == MediaType::Video)
        stream.getVideoFormat();
}
