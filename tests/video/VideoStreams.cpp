#include "VideoStreams.h"

#include "tests/streams/Recording.h"

#include <QFile>
#include <QProcess>

#include <ogg/ogg.h>

using namespace Harbend;

namespace VideoStreams {

bool record(const QString& folder, const QString& name, const QString& stream, int headerCount, Recorded& out)
{
    QString error;
    out.path = Recording::make(folder, name, {QStringLiteral("--stream"), stream}, &error);
    if (out.path.isEmpty()) {
        qWarning("make-recording: %s", qPrintable(error));
        return false;
    }
    const QJsonObject code = Recording::streamEntry(Recording::manifest(out.path), 100).value("pictureCode").toObject();
    out.cellWidth = code.value("cellWidth").toInt();
    out.cellHeight = code.value("cellHeight").toInt();
    return readPackets(out.path, 100, headerCount, out.headers, out.data);
}

bool readPackets(const QString& path, int serial, int headerCount, Packets& headers, Packets& data)
{
    ogg_stream_state stream;
    ogg_stream_init(&stream, serial);
    ogg_packet packet;
    int count = 0;
    for (QByteArray raw : Recording::pages(path)) {
        ogg_page page = Recording::asPage(raw);
        if (ogg_page_serialno(&page) != serial)
            continue;
        ogg_stream_pagein(&stream, &page);
        while (ogg_stream_packetout(&stream, &packet) == 1)
            (count++ < headerCount ? headers : data).append(QSharedPointer<OggPacket>(new OggPacket(packet)));
    }
    ogg_stream_clear(&stream);
    return headers.size() == headerCount;
}

QVector<QSharedPointer<VideoSample>> decodeAll(Decoder& decoder, const Packets& packets)
{
    QVector<QSharedPointer<VideoSample>> samples;
    for (const QSharedPointer<OggPacket>& packet : packets) {
        for (int calls = 0; calls < 1000; ++calls) {
            Sample* sample = nullptr;
            const bool finished = decoder.decode(packet, sample);
            if (sample)
                samples.append(QSharedPointer<VideoSample>(static_cast<VideoSample*>(sample)));
            if (finished)
                break;
        }
    }
    return samples;
}

long long pictureNumber(const QVideoFrame& source, const Recorded& recording)
{
    const int cellWidth = recording.cellWidth, cellHeight = recording.cellHeight;
    QVideoFrame frame(source);
    if (!frame.map(QAbstractVideoBuffer::ReadOnly))
        return -1;
    long long number = 0;
    for (int bit = 0; bit < 20; ++bit) {
        const uchar y = frame.bits()[(cellHeight / 2) * frame.width() + bit * cellWidth + cellWidth / 2];
        number = (number << 1) | (y > 128 ? 1 : 0);
    }
    frame.unmap();
    return number;
}

QByteArray pictureRegion(const QVideoFrame& source, int width, int height)
{
    QVideoFrame frame(source);
    QByteArray region;
    if (!frame.map(QAbstractVideoBuffer::ReadOnly))
        return region;
    const int w = frame.width(), h = frame.height();
    const uchar* planes[3] = {frame.bits(), frame.bits() + w * h, frame.bits() + w * h + (w / 2) * (h / 2)};
    for (int p = 0; p < 3; ++p) {
        const int stride = p ? w / 2 : w;
        const int rows = p ? height / 2 : height;
        const int bytes = p ? width / 2 : width;
        for (int row = 0; row < rows; ++row)
            region.append(reinterpret_cast<const char*>(planes[p] + row * stride), bytes);
    }
    frame.unmap();
    return region;
}

QByteArray ffmpeg(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-nostdin"} + arguments);
    if (!process.waitForFinished(120000) || process.exitCode() != 0) {
        qWarning("ffmpeg: %s", process.readAllStandardError().constData());
        return QByteArray();
    }
    return process.readAllStandardOutput();
}

QVector<QByteArray> diracUnits(const QByteArray& stream)
{
    QVector<QByteArray> units;
    int offset = 0;
    while (offset + 13 <= stream.size() && stream.mid(offset, 4) == "BBCD") {
        const uchar* at = reinterpret_cast<const uchar*>(stream.constData()) + offset + 5;
        const int next = int((uint(at[0]) << 24) | (uint(at[1]) << 16) | (uint(at[2]) << 8) | at[3]);
        const int size = next == 0 ? 13 : next;
        if (offset + size > stream.size())
            break;
        units.append(stream.mid(offset, size));
        offset += size;
    }
    return units;
}

Packets diracPackets(const QByteArray& stream, QByteArray* sequenceHeader)
{
    Packets packets;
    QByteArray header;
    for (const QByteArray& unit : diracUnits(stream)) {
        const uchar code = uchar(unit[4]);
        if (code == 0x00) {
            header = unit;
            if (sequenceHeader && sequenceHeader->isEmpty())
                *sequenceHeader = unit;
        } else if (code & 0x08) {
            packets.append(packetOf(header + unit, qint64(packets.size()) << 32, packets.size() + 1));
        }
    }
    return packets;
}

QSharedPointer<OggPacket> packetOf(const QByteArray& bytes, qint64 granule, qint64 number)
{
    ogg_packet packet{};
    packet.packet = reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.constData()));
    packet.bytes = bytes.size();
    packet.granulepos = granule;
    packet.packetno = number;
    return QSharedPointer<OggPacket>(new OggPacket(packet));
}

} // namespace VideoStreams
