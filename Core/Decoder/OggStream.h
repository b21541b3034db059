#pragma once

#include "Core/Base/Log.h"
#include "Core/Base/OggPacket.h"
#include "Core/Decoder/SharedQueue.h"
#include "Core/Decoder/StreamInfo.h"

#include <QAudioFormat>
#include <QMap>
#include <QMutex>
#include <QSharedPointer>
#include <QThread>
#include <QVariant>
#include <QVector>
#include <QVideoSurfaceFormat>
#include <QWaitCondition>

#include <atomic>

#include <ogg/ogg.h>

namespace Harbend {

class Decoder;
class SampleQueue;

// One logical stream of an Ogg file and the thread that decodes it: pages go
// in through putPageBOS()/putPage(), header packets are kept, data packets
// queue for the decoding thread, which puts decoded samples into the sample
// queue given by activateStream().
class OggStream : public QThread {
    Q_OBJECT
public:
    explicit OggStream(int serialno);
    ~OggStream() override;

    bool putPageBOS(ogg_page* page);
    // Identifies the codec of a stream's first packet and reads its fields;
    // may rewrite the packet (the recorder's Speex header). Needs no thread.
    bool parseIdentification(unsigned char* data, long bytes);
    // mayWait false: data packets go past the packet queue's limit instead
    // of waiting there (for callers on the GUI thread, which no decoder may wake).
    bool putPage(ogg_page* page, bool mayWait = true);

    bool activateStream(SampleQueue* queue);
    void deactivateStream();
    bool openDecoder();
    void closeDecoder();

    // Seek handshake: preSeek() returns holding the stream lock, released by
    // postSeek() (milliseconds) or, when the seek failed, by unlock().
    void preSeek();
    bool postSeek(qint64 ms);
    void unlock();

    // False when the packets were not all taken within timeoutMs (-1: no limit).
    bool waitUntilProcessed(int timeoutMs = -1);

    // Milliseconds; -1 for no position, an unknown codec, or a time that does
    // not fit into nanoseconds.
    qint64 getTimeFromGranulepos(qint64 granulepos) const;
    qint64 getPreviousGranulepos(qint64 granulepos) const;
    // The granule position of the first of the pictures that end on a page
    // with the given granule position and packet count; -1 when they reach
    // back past the key frame of the last one.
    qint64 getFirstPictureGranulepos(qint64 granulepos, int packets) const;

    // The format the system plays: mono 16-bit signed little-endian PCM.
    static QAudioFormat pcmFormat(int rate);
    QAudioFormat getAudioFormat() const;
    QVideoSurfaceFormat getVideoFormat() const;

    const StreamInfo& streamInfo() const { return info; }
    const QVector<QSharedPointer<OggPacket>>& headerPackets() const { return headers; }
    int queuedPackets() { return packetQueue.size(); }

    const int serialno;
    QMap<QString, QVariant> metadata;
    SampleQueue* sampleQueue = nullptr;

public slots:
    void putEOSPacket();

protected:
    void run() override;

private:
    bool parseHeaders();
    bool parseHeadersOpus();
    bool parseHeadersSpeex();
    bool parseHeadersVorbis();
    bool parseHeadersTheora();
    bool parseHeadersDirac();
    // Rates and frame rates that would be divided by must not be 0; what a
    // decoder sizes its blocks by must not exceed what a recorder makes.
    bool checkRate(quint32 rate, const char* what, quint32 highest = 0xffffffffu);
    bool checkFrameSize(quint32 width, quint32 height);
    void parseMetaData();
    // Gives the pictures of one page the granule positions libogg leaves out.
    void placeTheoraPictures(const QVector<QSharedPointer<OggPacket>>& packets) const;

    QMutex mutex;
    QWaitCondition waitCondition;
    StreamInfo info;
    QVector<QSharedPointer<OggPacket>> headers;
    Decoder* decoder = nullptr;
    // Guards streamState between the reading thread's putPage() and a
    // deactivation on the GUI thread while the reading thread runs.
    QMutex pageMutex;
    ogg_stream_state streamState;
    ogg_packet packet;
    SharedQueue<QSharedPointer<OggPacket>, 200> packetQueue;
    QSharedPointer<OggPacket> currentPacket;
    std::atomic<bool> active{true};
    std::atomic<int> running{0};
    std::atomic<bool> seeking{false};

    static Logging::Log ms_log;
};

} // namespace Harbend
