#pragma once

#include "Core/Base/Log.h"
#include "Core/Decoder/OggPageScanner.h"
#include "Core/Decoder/SampleQueue.h"

#include <QHash>
#include <QMediaTimeRange>
#include <QMutex>
#include <QSet>
#include <QSharedPointer>
#include <QThread>
#include <QVector>
#include <QWaitCondition>

#include <atomic>

#include <ogg/ogg.h>

class QFile;
class QIODevice;

namespace Harbend {

class MetaDataControl;
class OggStream;

// Reads one Ogg file: checks it, discovers its logical streams and chooses the
// audio and video stream that play, finds the playable range, and then reads
// page after page on its own thread, handing each page to its stream. Seeks
// by bisection over the file. Lives on the GUI thread; only run() does not.
class OggReader : public QThread {
    Q_OBJECT
public:
    OggReader(MetaDataControl* metaDataControl, QObject* parent);
    // Stops the reading thread and drops the streams before the queues go.
    ~OggReader() override;

    bool open(QIODevice* device);
    // The first call discovers the streams; later ones come from the thread.
    bool read();
    bool startReading();
    void stopReading();
    void close();

    void disableAudioStream();
    void disableVideoStream();

    // Pauses the streams and the reading thread; seek() must follow.
    void preSeek();
    // The time reached in ms, or -1: with audio the target itself (the audio
    // decoders drop what lies before it), else where the data at the new
    // position begins.
    qint64 seek(qint64 ms);

    QSharedPointer<OggStream> getAudioStream() const { return audioStream; }
    QSharedPointer<OggStream> getVideoStream() const { return videoStream; }
    SampleQueue* getAudioQueue() { return &audioQueue; }
    SampleQueue* getVideoQueue() { return &videoQueue; }
    qint64 getStartTime() const { return startTime; }
    qint64 getEndTime() const { return endTime; }
    const QVector<QSharedPointer<OggStream>>& getStreams() const { return streams; }

    struct SeekPoint {
        qint64 offset; // where reading resumes; -1 on failure
        qint64 time;   // ms, the time at which the data there begins
    };
    // The searches that seek() is made of, on a sync state of their own.
    SeekPoint bisectionSearch(OggStream* stream, qint64 begin, qint64 end, qint64 target);
    // Where audio reading resumes for a target: past the last page of the
    // stream that ends at least a preroll before it, stepping back from the
    // bisection's point when that one lies later.
    SeekPoint audioResumePoint(OggStream* stream, SeekPoint found, qint64 target);
    // Where the video stream must be fed from so that the picture at offset
    // can be decoded (the key frame's page, or where its packet begins); -1
    // when nothing needs feeding. granule: of the first video page at offset.
    qint64 locateVideoFeed(const OggStream& video, qint64 offset, qint64& granule);

    // What the last seek read from the device (bisection and video tuning).
    qint64 lastSeekBytes() const { return seekBytes; }
    qint64 lastSeekPages() const { return seekPages; }

signals:
    void durationChanged(qint64 duration);
    void positionChanged(qint64 position);
    void audioAvailable(bool available);
    void videoAvailable(bool available);
    void availablePlaybackRangesChanged(const QMediaTimeRange& ranges);
    void eof();

protected:
    void run() override;

private:
    bool checkDevice();
    // Opens only a regular file, never waiting; false with the reason.
    static bool openRegularFile(QFile& file, QString& reason);
    bool discoverStreams();
    bool collectHeaders();
    bool headersMissing() const;
    bool activate(const QSharedPointer<OggStream>& stream, bool audio);
    void chooseStreams(bool audio);
    void dropStreams();
    // The first link of a chained file: its streams' serial numbers and
    // where its data pages begin.
    struct FirstLink {
        QSet<int> serials;
        qint64 dataStart = 0;
    };
    // What a scan back from a link's end found.
    struct TailScan {
        qint64 latest = -1;  // the end time
        qint64 from = 0;     // the first offset read
        qint64 dataEnd = -1; // where the link's last page ends
        bool laterLink = false;
        bool failed = false;
        QHash<int, qint64> lastPage; // the last page number of each serial
    };
    bool calculateDuration();
    static bool isLaterLink(const FirstLink& link, ogg_page* scanned, qint64 at);
    bool findStartTime(OggPageScanner& scanner, FirstLink& link, qint64& start);
    bool findEndTime(OggPageScanner& scanner, const FirstLink& link, qint64& end);
    // Where the written data of the file ends: holes after it are skipped.
    qint64 writtenEnd() const;
    TailScan scanTail(OggPageScanner& scanner, const FirstLink& link, qint64 linkEnd);
    bool laterLinkBefore(OggPageScanner& scanner, const FirstLink& link, const TailScan& tail);
    // Where the first later link begins, or before when none begins earlier.
    qint64 firstLaterLink(OggPageScanner& scanner, const FirstLink& link, qint64 before);
    qint64 timeOfPage(ogg_page* page) const;
    void setTimes(qint64 start, qint64 end);
    void setPosition(qint64 value);
    QSharedPointer<OggStream> streamWithSerial(int serialno) const;
    void routePage();
    void placeSeekScanner(OggPageScanner& scanner) const;
    void tuneVideo(qint64 offset);
    // The granule position of the last video page that ends a packet before the
    // given offset; -1 when there is none.
    qint64 previousVideoGranule(int serialno, qint64 before);
    qint64 lostVideoSync();
    void wakeAll();

    static Logging::Log ms_log;

    // The reader's lock, taken after a stream's own and never before it. While
    // the reading thread runs, the members marked "mutex" are its own between
    // pages, and the GUI thread takes the lock to seek or to close.
    QMutex mutex;
    // Set by open() on the GUI thread before the reading thread starts; read
    // through the scanners under mutex.
    QIODevice* device = nullptr;
    // GUI thread: built by the discovery, changed only while the reading
    // thread does not run; the reading thread reads them.
    QVector<QSharedPointer<OggStream>> streams;
    QSharedPointer<OggStream> audioStream;
    QSharedPointer<OggStream> videoStream;
    // Locked inside.
    SampleQueue audioQueue;
    SampleQueue videoQueue;
    // mutex.
    ogg_page page;
    OggPageScanner syncState;
    // GUI thread.
    MetaDataControl* metaDataControl;
    // mutex.
    int eosCount = 0;
    // GUI thread.
    qint64 position = -1;
    qint64 startTime = -1;
    qint64 endTime = -1;
    // Where the last page of the streams played ends; -1 while unknown.
    qint64 dataEnd = -1;
    int preferredAudioSerial = 1;
    int preferredVideoSerial = 100;
    // Atomic: read by the reading thread outside the lock as well.
    std::atomic<bool> running{false};
    std::atomic<bool> pauseRequested{false};
    // mutex, and the conditions wait on it.
    bool paused = false;
    bool endOfFile = false;
    QWaitCondition pausedCondition;
    QWaitCondition resumeCondition;
    QWaitCondition endOfFileCondition;
    // GUI thread (the seek and its searches).
    qint64 seekBytes = 0;
    qint64 seekPages = 0;
};

} // namespace Harbend

// Carried by availablePlaybackRangesChanged, also across threads.
Q_DECLARE_METATYPE(QMediaTimeRange)
