#pragma once

#include "Core/Decoder/StreamInfo.h"

#include <QByteArray>
#include <QSharedPointer>
#include <QVector>

#include <cstddef>
#include <cstdint>
#include <functional>

#include <ogg/ogg.h>

namespace Harbend {
class OggPacket;
class Sample;
} // namespace Harbend

// The input of the stream harnesses: a serial number (the first byte), then
// records of a 16-bit little-endian length, a 64-bit little-endian granule
// position and that many bytes. A record of length 0xffff carries no bytes:
// it asks the decoder to seek to its granule position as nanoseconds.
class PacketStream {
public:
    struct Record {
        QByteArray bytes;
        qint64 granule;
        bool seek;
    };

    PacketStream(const std::uint8_t* data, std::size_t size);

    // Identifies the stream by its first record (with the header parser),
    // opens its decoder on the header records that follow and decodes the
    // rest, then the end-of-stream marker; each sample goes to check. False
    // when the headers were refused.
    bool decode(const std::function<void(const Harbend::Sample&, const Harbend::StreamInfo&)>& check) const;

    // The stream's first packet through the header parser; then every record
    // on a page of its own through the stream's page entry, as the reader
    // feeds it (no decoder).
    void parseHeaders() const;

    int serial = 0;
    QVector<Record> records;
    // Makes the packets that decode() hands the decoder (a copy by default);
    // tests place them where a read past their end faults.
    std::function<QSharedPointer<Harbend::OggPacket>(const ogg_packet&)> makePacket;

private:
    QSharedPointer<Harbend::OggPacket> packetOf(const QByteArray& bytes, qint64 granule, qint64 number) const;
};
