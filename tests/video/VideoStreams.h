#pragma once

#include "Core/Base/OggPacket.h"
#include "Core/Decoder/Decoder.h"
#include "Core/Decoder/VideoSample.h"

#include <QJsonObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QVector>

// Generated video recordings and ffmpeg's view of them, for the decoder tests.
namespace VideoStreams {

typedef QVector<QSharedPointer<Harbend::OggPacket>> Packets;

// A generated recording of one video stream (serial number 100), its packets
// and the size of the cells that carry each picture's number.
struct Recorded {
    QString path;
    QVector<QSharedPointer<Harbend::OggPacket>> headers;
    QVector<QSharedPointer<Harbend::OggPacket>> data;
    int cellWidth = 0;
    int cellHeight = 0;
};

// Runs make-recording with one --stream argument and reads the result back.
bool record(const QString& folder, const QString& name, const QString& stream, int headerCount, Recorded& out);

// The packets of one logical stream, the first headerCount of them as headers.
bool readPackets(const QString& path, int serial, int headerCount, Packets& headers, Packets& data);

// Feeds packets as the stream's decoding thread does (again while the decoder
// asks for the same packet); every sample is kept, in order.
QVector<QSharedPointer<Harbend::VideoSample>> decodeAll(Harbend::Decoder& decoder, const Packets& packets);

// The picture number drawn into a frame's code row.
long long pictureNumber(const QVideoFrame& frame, const Recorded& recording);
// The Y, U and V planes of the top-left width x height region of a 4:2:0 frame.
QByteArray pictureRegion(const QVideoFrame& frame, int width, int height);

// Runs ffmpeg with the arguments; its standard output, or empty on failure.
QByteArray ffmpeg(const QStringList& arguments);

// The Dirac parse units of a raw stream, and packets made of a sequence
// header and one picture unit each (as the recordings carry them).
QVector<QByteArray> diracUnits(const QByteArray& stream);
Packets diracPackets(const QByteArray& stream, QByteArray* sequenceHeader);

QSharedPointer<Harbend::OggPacket> packetOf(const QByteArray& bytes, qint64 granule, qint64 number);

} // namespace VideoStreams
