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
    // The format that a video stream of that description is shown in.
    static QVideoSurfaceFormat videoFormatOf(const StreamInfo& info);

    const StreamInfo& streamInfo() const { return info; }
    const QVector<QSharedPointer<OggPacket>>& headerPackets() const { return headers; }
    int queuedPackets() { return packetQueue.size(); }
    // Whether the reading thread waits at this stream's full packet queue (for tests).
    bool readerWaits() { return packetQueue.producerWaits(); }

    const int serialno;
    // pageMutex while pages come in; the GUI thread reads it after the discovery.
    QMap<QString, QVariant> metadata;
    // Set by the GUI thread before the decoding thread starts and cleared
    // after it has ended; the decoding thread adds to it.
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
    // A picture has at least one pixel each way, and sides that are whole
    // multiples of the given number.
    bool checkFrameSize(quint32 width, quint32 height, const char* what = "frame size", quint32 multiple = 1);
    void parseMetaData();
    // Gives the pictures of one page the granule positions libogg leaves out.
    void placeTheoraPictures(const QVector<QSharedPointer<OggPacket>>& packets) const;

    // The stream lock: the decoding thread holds it for every packet, and a
    // seek holds it from preSeek() to postSeek() on the GUI thread, before it
    // takes the reader's lock. waitCondition waits on it.
    QMutex mutex;
    QWaitCondition waitCondition;
    // Filled during the discovery on the GUI thread (the packets after the
    // first under pageMutex); fixed once the decoder opens.
    StreamInfo info;
    QVector<QSharedPointer<OggPacket>> headers;
    // Opened and deleted by the GUI thread while the decoding thread does not
    // run; between, used under mutex.
    Decoder* decoder = nullptr;
    // Guards streamState, packet and what putPage() parses, between the
    // reading thread and the GUI thread (deactivation, seek); putPageBOS()
    // runs at the discovery, before any other thread. Taken after the
    // reader's lock.
    QMutex pageMutex;
    ogg_stream_state streamState;
    ogg_packet packet;
    // Locked inside.
    SharedQueue<QSharedPointer<OggPacket>, 200> packetQueue;
    // mutex.
    QSharedPointer<OggPacket> currentPacket;
    // Atomic: read outside the locks.
    std::atomic<bool> active{true};
    std::atomic<int> running{0};
    std::atomic<bool> seeking{false};

    static Logging::Log ms_log;
};

} // namespace Harbend
