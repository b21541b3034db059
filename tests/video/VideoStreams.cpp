#include "VideoStreams.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

#include <ogg/ogg.h>

using namespace Harbend;

namespace VideoStreams {

QString make(const QString& folder, const QString& name, const QStringList& arguments)
{
    const QString path = folder + QLatin1Char('/') + name;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(HARBEND_BIN_DIR "/make-recording"), QStringList(arguments) << path);
    if (!process.waitForFinished(120000) || process.exitCode() != 0) {
        qWarning("make-recording: %s", process.readAll().constData());
        return QString();
    }
    return path;
}

QJsonObject entry(const QString& recording, int serial)
{
    QFile file(recording + QStringLiteral(".json"));
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    for (const QJsonValue& value : QJsonDocument::fromJson(file.readAll()).object().value("streams").toArray())
        if (value.toObject().value("serial").toInt() == serial)
            return value.toObject();
    return QJsonObject();
}

bool readPackets(const QString& path, int serial, int headerCount, Packets& headers, Packets& data)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, bytes.size());
    memcpy(buffer, bytes.constData(), size_t(bytes.size()));
    ogg_sync_wrote(&sync, bytes.size());
    ogg_stream_state stream;
    ogg_stream_init(&stream, serial);
    ogg_page page;
    ogg_packet packet;
    int count = 0;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        if (ogg_page_serialno(&page) != serial)
            continue;
        ogg_stream_pagein(&stream, &page);
        while (ogg_stream_packetout(&stream, &packet) == 1)
            (count++ < headerCount ? headers : data).append(QSharedPointer<OggPacket>(new OggPacket(packet)));
    }
    ogg_stream_clear(&stream);
    ogg_sync_clear(&sync);
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

long long pictureNumber(const QVideoFrame& source, int cellWidth, int cellHeight)
{
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
