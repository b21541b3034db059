#include "Core/Decoder/OggReader.h"

#include "Core/Base/GuiThread.h"
#include "Core/Decoder/OggStream.h"
#include "Core/Decoder/PageDuration.h"
#include "Core/Multimedia/MetaDataControl.h"

#include <QCoreApplication>
#include <QFile>
#include <QIODevice>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Decoder/OggReader";

// Pages that discovery reads while it collects header packets; the packets
// read meanwhile wait in memory, so a file that never completes its headers
// must not be read to its end.
const int kMaxHeaderPages = 4096;
// A first sample up to this many ms late is taken as the start of the recording.
const qint64 kLateStart = 1999;
// Pages looked at for a later link of a chained file before the tail; up to
// this many bytes before it are rather read whole.
const int kLinkProbes = 16;
const qint64 kWholeLinkScan = qint64(1) << 20;
// How far back from the end data is first looked for in a file with holes.
const qint64 kFirstHoleProbe = qint64(1) << 20;
// The largest read of a tail in which no page has been found yet.
const qint64 kLongestJunkRead = qint64(1) << 20;
// Below this window the bisection stops.
const qint64 kSmallestWindow = 1000;
// A page within this many ms of the target ends the bisection.
const qint64 kSeekTolerance = 500;
// The first step back from the seek point when looking for the key frame.
const qint64 kFirstTuningStep = 131072;
// Audio resumes at a page ending at least this many ms before the target:
// room for the packets that give no sound after a restart (a Vorbis window,
// a packet cut at the page start; two 120 ms Opus packets at most) before the
// decoders trim to the target.
const qint64 kAudioPreroll = 250;
// How long a seek waits for the video decoder to take the key-frame pages.
const int kTuningWaitMs = 2000;

// Adds what a scanner read to a seek's cost when it goes out of scope.
struct CostTally {
    const OggPageScanner& scanner;
    qint64& bytes;
    qint64& pages;
    ~CostTally()
    {
        bytes += scanner.bytesRead();
        pages += scanner.pagesRead();
    }
};
} // namespace

Logging::Log OggReader::ms_log("OggReader", Logging::Log::systemLogger());

OggReader::OggReader(MetaDataControl* metaDataControl, QObject* parent)
    : QThread(parent), audioQueue(80), videoQueue(15), metaDataControl(metaDataControl)
{
    std::memset(&page, 0, sizeof page);
    qRegisterMetaType<QMediaTimeRange>();
}

OggReader::~OggReader()
{
    stopReading();
    // The streams hold pointers to the sample queues, which go after them.
    dropStreams();
    device = nullptr;
}

bool OggReader::open(QIODevice* source)
{
    Q_ASSERT(onGuiThread());
    device = source;
    // A device that fails a check is not read from.
    if (!checkDevice())
        device = nullptr;
    syncState.setDevice(device);
    if (!device)
        return false;
    eosCount = 0;
    syncState.reset();
    setPosition(-1);
    HARBEND_LOG(Success, "Successfully opened stream for playback.");
    return true;
}

bool OggReader::checkDevice()
{
    if (!device) {
        HARBEND_LOG(Fatal, "Failed to create file object! Out of memory?");
        return false;
    }
    // A device handed over open (a stream given to the player) is used as it is.
    if (!device->isOpen()) {
        QFile* file = qobject_cast<QFile*>(device);
        QString reason;
        if (file ? !openRegularFile(*file, reason) : !device->open(QIODevice::ReadOnly)) {
            if (!file)
                reason = device->errorString();
            HARBEND_LOG(Error, "Failed to open stream! Reason: '%s'.", reason.toLocal8Bit().constData());
            return false;
        }
    }
    if (!device->isReadable()) {
        HARBEND_LOG(Error, "Stream is not readable!");
        return false;
    }
    if (device->isSequential()) {
        HARBEND_LOG(Error, "Stream is not seekable!");
        return false;
    }
    const QByteArray magic = device->peek(4);
    if (magic.size() != 4) {
        HARBEND_LOG(Error, "Failed to read from the stream! Can't determine it's type!");
        return false;
    }
    if (magic != "OggS") {
        HARBEND_LOG(Error, "Stream is not a valid Ogg file! Can't play it!");
        return false;
    }
    return true;
}

bool OggReader::openRegularFile(QFile& file, QString& reason)
{
    // Embedded resources live in memory.
    if (file.fileName().startsWith(QLatin1Char(':'))) {
        const bool opened = file.open(QIODevice::ReadOnly);
        reason = file.errorString();
        return opened;
    }
    // Opened without waiting and checked before QFile takes it: a FIFO
    // without a writer, a device or a socket would block or never end.
    const int descriptor = ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat status;
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        reason = QStringLiteral("Not a regular file");
        return false;
    }
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        reason = file.errorString();
        return false;
    }
    return true;
}

bool OggReader::read()
{
    if (!device || !device->isOpen())
        return false;
    if (eosCount == streams.size()) {
        if (!streams.isEmpty()) {
            HARBEND_LOG(Info, "End of file reached.");
            return false;
        }
        if (!discoverStreams()) {
            HARBEND_LOG(Warning, "Could not find any valid logical Ogg streams!");
            // Nothing that discovery started is left running.
            dropStreams();
            return false;
        }
    }
    if (!syncState.nextPage(&page)) {
        HARBEND_LOG(Info, "End of file reached.");
        return false;
    }
    routePage();
    return true;
}

void OggReader::routePage()
{
    const QSharedPointer<OggStream> stream = streamWithSerial(ogg_page_serialno(&page));
    if (!stream)
        return;
    if (ogg_page_eos(&page))
        ++eosCount;
    // Only the reading thread may wait at a full packet queue: on the GUI
    // thread no decoder may be there yet to take a packet.
    if (!stream->putPage(&page, QThread::currentThread() == this))
        HARBEND_LOG(Warning, "Failed to put page into stream!");
}

QSharedPointer<OggStream> OggReader::streamWithSerial(int serialno) const
{
    for (const QSharedPointer<OggStream>& stream : streams) {
        if (stream->serialno == serialno)
            return stream;
    }
    return QSharedPointer<OggStream>();
}

bool OggReader::discoverStreams()
{
    do {
        if (!syncState.nextPage(&page))
            return false;
    } while (!ogg_page_bos(&page));

    while (ogg_page_bos(&page)) {
        const int serialno = ogg_page_serialno(&page);
        HARBEND_LOG(Info, "New logical stream found - serialno #%d", serialno);
        QSharedPointer<OggStream> stream(new OggStream(serialno));
        if (stream->putPageBOS(&page)) {
            streams.append(stream);
            connect(this, &OggReader::eof, stream.data(), &OggStream::putEOSPacket);
        } else {
            HARBEND_LOG(Warning, "Ignoring logical stream #%d.", serialno);
        }
        if (!syncState.nextPage(&page))
            return false;
    }
    for (const QSharedPointer<OggStream>& stream : streams) {
        if (stream->putPage(&page, false))
            break;
    }
    HARBEND_LOG(Info, "Found %d logical streams.", int(streams.size()));

    if (!calculateDuration()) {
        HARBEND_LOG(Warning, "Failed to calculate file's duration.");
    } else {
        const qint64 end = std::max<qint64>(endTime, 0);
        HARBEND_LOG(Info, "File duration: %02u:%02u:%02u,%03u", unsigned(end / 3600000), unsigned(end / 60000 % 60),
                    unsigned(end / 1000 % 60), unsigned(end % 1000));
    }

    if (!collectHeaders()) {
        HARBEND_LOG(Error, "Failed to read data! Can't decode this stream!");
        return false;
    }

    for (int i = 0; i < streams.size();) {
        const QSharedPointer<OggStream> stream = streams.at(i);
        const MediaType::Enum type = stream->streamInfo().mediaType;
        const bool audio = type == MediaType::Audio;
        if (!audio && type != MediaType::Video) {
            ++i;
            continue;
        }
        if (audio ? audioStream : videoStream) {
            stream->deactivateStream();
            ++i;
        } else if (stream->serialno != (audio ? preferredAudioSerial : preferredVideoSerial) ||
                   activate(stream, audio)) {
            ++i;
        } else {
            streams.removeAt(i);
        }
    }
    chooseStreams(true);
    chooseStreams(false);

    for (const QSharedPointer<OggStream>& stream : streams) {
        if (stream != audioStream && stream != videoStream)
            stream->deactivateStream();
    }
    if (streams.isEmpty()) {
        HARBEND_LOG(Error, "All of the streams found are not playable! Can't continue!");
        return false;
    }
    if (audioStream && metaDataControl)
        metaDataControl->setMetaData(audioStream->metadata);
    return true;
}

bool OggReader::headersMissing() const
{
    for (const QSharedPointer<OggStream>& stream : streams) {
        if (stream->streamInfo().headersMissing != 0)
            return true;
    }
    return false;
}

bool OggReader::collectHeaders()
{
    for (int pages = 0; headersMissing(); ++pages) {
        if (pages >= kMaxHeaderPages || !read())
            return false;
    }
    return true;
}

bool OggReader::activate(const QSharedPointer<OggStream>& stream, bool audio)
{
    if (stream->activateStream(audio ? &audioQueue : &videoQueue)) {
        if (audio) {
            audioStream = stream;
            emit audioAvailable(true);
        } else {
            videoStream = stream;
            emit videoAvailable(true);
        }
        return true;
    }
    HARBEND_LOG(Warning, "Initialization of decoder failed, ignoring logical stream #%d.", stream->serialno);
    stream->closeDecoder();
    disconnect(this, &OggReader::eof, stream.data(), &OggStream::putEOSPacket);
    return false;
}

void OggReader::chooseStreams(bool audio)
{
    if ((audio ? audioStream : videoStream) || streams.isEmpty())
        return;
    if (audio)
        HARBEND_LOG(Warning, "Failed to open preferred audio stream, trying to open a different one...");
    else
        HARBEND_LOG(Warning, "Failed to open preferred video stream, trying to open a different one...");
    const MediaType::Enum wanted = audio ? MediaType::Audio : MediaType::Video;
    for (int i = 0; i < streams.size();) {
        const QSharedPointer<OggStream> stream = streams.at(i);
        if (stream->streamInfo().mediaType != wanted) {
            ++i;
        } else if (activate(stream, audio)) {
            return;
        } else {
            streams.removeAt(i);
        }
    }
}

void OggReader::dropStreams()
{
    for (const QSharedPointer<OggStream>& stream : streams) {
        stream->deactivateStream();
        disconnect(this, &OggReader::eof, stream.data(), &OggStream::putEOSPacket);
    }
    streams.clear();
    audioStream.reset();
    videoStream.reset();
    eosCount = 0;
}

qint64 OggReader::timeOfPage(ogg_page* scanned) const
{
    const QSharedPointer<OggStream> stream = streamWithSerial(ogg_page_serialno(scanned));
    return stream ? stream->getTimeFromGranulepos(ogg_page_granulepos(scanned)) : -1;
}

bool OggReader::calculateDuration()
{
    const qint64 remembered = device->pos();
    OggPageScanner scanner;
    scanner.setDevice(device);
    if (!scanner.moveTo(0)) {
        HARBEND_LOG(Error, "Failed to seek to the beginning of the file!");
        return false;
    }
    qint64 start = -1;
    qint64 end = -1;
    FirstLink link;
    const bool found = findStartTime(scanner, link, start) && findEndTime(scanner, link, end);
    if (found) {
        if (start > end) {
            HARBEND_LOG(Warning,
                        "Calculated start position is greater than end position; can't determine file length.");
            setTimes(-1, -1);
        } else {
            setTimes(start, end);
        }
    }
    if (!device->seek(remembered))
        HARBEND_LOG(Warning, "Failed to revert back to the original file position! Errors expected.");
    return found;
}

bool OggReader::isLaterLink(const FirstLink& link, ogg_page* scanned, qint64 at)
{
    return at >= link.dataStart && (ogg_page_bos(scanned) || !link.serials.contains(ogg_page_serialno(scanned)));
}

bool OggReader::findStartTime(OggPageScanner& scanner, FirstLink& link, qint64& start)
{
    // Each kept stream is followed from its first page: what its packets
    // cover tells where the data of its first timed page begins.
    std::map<int, std::unique_ptr<PageDuration>> followed;
    for (const QSharedPointer<OggStream>& stream : streams)
        followed[stream->serialno].reset(new PageDuration(stream->serialno, stream->streamInfo()));
    ogg_page scanned;
    bool sawZero = false;
    link.dataStart = device->size();
    while (scanner.nextPage(&scanned)) {
        const bool bos = ogg_page_bos(&scanned);
        if (isLaterLink(link, &scanned, scanner.pageStart()))
            break;
        if (bos)
            link.serials.insert(ogg_page_serialno(&scanned));
        else
            link.dataStart = std::min(link.dataStart, scanner.pageStart());
        const qint64 time = bos || ogg_page_granulepos(&scanned) <= 0 ? -1 : timeOfPage(&scanned);
        const auto stream = followed.find(ogg_page_serialno(&scanned));
        const qint64 first = stream != followed.end() ? stream->second->take(&scanned, time) : time;
        if (time > 0) {
            // Recorders start their clocks a little late: a first sample up
            // to 2 s in counts as the start.
            start = sawZero || first <= kLateStart ? 0 : first;
            return true;
        }
        sawZero = sawZero || time == 0;
    }
    if (sawZero) {
        start = 0;
        return true;
    }
    HARBEND_LOG(Error, "Failed to calculate start position in the file!");
    return false;
}

bool OggReader::findEndTime(OggPageScanner& scanner, const FirstLink& link, qint64& end)
{
    // Only the first link's streams play: in a chained file the tail belongs
    // to a later link, whose streams may reuse the serial numbers.
    TailScan tail = scanTail(scanner, link, writtenEnd());
    if (!tail.failed && (tail.laterLink || laterLinkBefore(scanner, link, tail)))
        tail = scanTail(scanner, link, firstLaterLink(scanner, link, device->size()));
    if (tail.failed) {
        HARBEND_LOG(Error, "Failed to seek to the desired position!");
        return false;
    }
    if (tail.latest < 0) {
        HARBEND_LOG(Error, "Failed to find the end position in the file!");
        return false;
    }
    end = tail.latest;
    dataEnd = tail.dataEnd;
    return true;
}

qint64 OggReader::writtenEnd() const
{
    // Holes in a file (a sparse or preallocated tail) hold only zeros, where
    // no page can lie: the scan for the last page starts where the last data
    // ends. Asked of the file's own descriptor, whose offset is put back.
    const qint64 size = device->size();
    QFileDevice* file = qobject_cast<QFileDevice*>(device);
    const int descriptor = file ? file->handle() : -1;
    const off_t kept = descriptor >= 0 ? ::lseek(descriptor, 0, SEEK_CUR) : -1;
    if (kept < 0)
        return size;
    qint64 end = size;
    for (qint64 back = kFirstHoleProbe;; back *= 2) {
        const off_t from = off_t(std::max<qint64>(0, size - back));
        off_t data = ::lseek(descriptor, from, SEEK_DATA);
        if (data < 0 && errno == ENXIO && from > 0)
            continue; // only a hole after it: look farther back
        if (data < 0) {
            end = errno == ENXIO ? 0 : size; // all a hole, or holes unknown here
            break;
        }
        for (end = data; data >= 0; data = ::lseek(descriptor, end, SEEK_DATA)) {
            const off_t hole = ::lseek(descriptor, data, SEEK_HOLE);
            if (hole < 0)
                break;
            end = hole;
        }
        break;
    }
    ::lseek(descriptor, kept, SEEK_SET);
    return std::min(size, end);
}

OggReader::TailScan OggReader::scanTail(OggPageScanner& scanner, const FirstLink& link, qint64 linkEnd)
{
    // Windows step back from the end of the link; each scans only the pages
    // that begin inside it, since those after it were seen by the window
    // before, so that each byte is read once however long a tail of junk
    // is. The steps that count are those back from the end of the last page,
    // as if the file ended there: bytes after it (zeros after a crash, a
    // preallocated file) change nothing. The first such step that holds a
    // time is the one read.
    struct Timed {
        qint64 start;
        qint64 time;
    };
    TailScan tail;
    QVector<Timed> timed; // pages with a positive time, from the first one found on
    bool sawZero = false;
    ogg_page scanned;
    const qint64 step = OggPageScanner::ReadSize;
    qint64 bound = 0;
    qint64 pagesEnd = -1;
    qint64 lastPlaced = -1; // where the last page with a positive time begins
    qint64 offset = linkEnd;
    qint64 window = step;
    for (qint64 limit = linkEnd; limit > bound; limit = offset) {
        offset = std::max(bound, limit - window);
        // Junk without a page is read in growing windows, in as few reads.
        scanner.setReadSize(window);
        if (pagesEnd < 0)
            window = std::min(2 * window, kLongestJunkRead);
        if (!scanner.moveTo(offset)) {
            tail.failed = true;
            return tail;
        }
        while (scanner.nextPageBefore(&scanned, limit)) {
            pagesEnd = std::max(pagesEnd, scanner.pageEnd());
            if (isLaterLink(link, &scanned, scanner.pageStart()))
                tail.laterLink = true;
            else
                tail.lastPage[ogg_page_serialno(&scanned)] = std::max<qint64>(
                    tail.lastPage.value(ogg_page_serialno(&scanned), -1), ogg_page_pageno(&scanned));
            if (ogg_page_granulepos(&scanned) <= 0)
                continue;
            const qint64 time = timeOfPage(&scanned);
            sawZero = sawZero || time == 0;
            if (time > 0) {
                timed.append({scanner.pageStart(), time});
                lastPlaced = std::max(lastPlaced, scanner.pageStart());
            }
        }
        if (lastPlaced >= 0)
            bound = std::max(bound, pagesEnd - (pagesEnd - lastPlaced + step - 1) / step * step);
    }
    scanner.setReadSize(step);
    tail.from = offset;
    tail.dataEnd = pagesEnd;
    tail.latest = sawZero ? 0 : -1;
    for (const Timed& page : timed) {
        if (page.start >= bound)
            tail.latest = std::max(tail.latest, page.time);
    }
    return tail;
}

bool OggReader::laterLinkBefore(OggPageScanner& scanner, const FirstLink& link, const TailScan& tail)
{
    // The page numbers of a stream grow through its link and start anew in
    // the next: pages spread over the part before the tail show a later link
    // that lies there, unless it is a small part of the file. The probes read
    // a small share of that part; a short part is read whole.
    const qint64 part = tail.from - link.dataStart;
    if (part <= kWholeLinkScan)
        return firstLaterLink(scanner, link, tail.from) < tail.from;
    const qint64 probes = std::min<qint64>(kLinkProbes, part / (4 * OggPageScanner::ReadSize));
    QHash<int, qint64> seen;
    ogg_page probed;
    for (qint64 i = 1; part > 0 && i <= probes; ++i) {
        if (!scanner.moveTo(link.dataStart + part * i / (probes + 1)) || !scanner.nextPageBefore(&probed, tail.from))
            continue;
        if (isLaterLink(link, &probed, scanner.pageStart()))
            return true;
        const int serial = ogg_page_serialno(&probed);
        const qint64 number = ogg_page_pageno(&probed);
        if (number < seen.value(serial, -1) || number > tail.lastPage.value(serial, number))
            return true;
        seen[serial] = number;
    }
    return false;
}

qint64 OggReader::firstLaterLink(OggPageScanner& scanner, const FirstLink& link, qint64 before)
{
    ogg_page scanned;
    if (scanner.moveTo(link.dataStart)) {
        while (scanner.nextPageBefore(&scanned, before)) {
            if (isLaterLink(link, &scanned, scanner.pageStart()))
                return scanner.pageStart();
        }
    }
    return before;
}

void OggReader::setTimes(qint64 start, qint64 end)
{
    if (end != endTime) {
        endTime = end;
        emit durationChanged(end);
    }
    startTime = start;
    emit availablePlaybackRangesChanged(QMediaTimeRange(start, end));
}

void OggReader::setPosition(qint64 value)
{
    if (position == value)
        return;
    position = value;
    emit positionChanged(value);
}

bool OggReader::startReading()
{
    Q_ASSERT(onGuiThread());
    if (isRunning())
        return true;
    running = true;
    start(QThread::LowestPriority);
    if (!isRunning()) {
        running = false;
        HARBEND_LOG(Error, "Failed to start reading thread!");
        return false;
    }
    return true;
}

void OggReader::wakeAll()
{
    endOfFileCondition.wakeAll();
    resumeCondition.wakeAll();
    pausedCondition.wakeAll();
}

void OggReader::stopReading()
{
    Q_ASSERT(onGuiThread());
    running = false;
    // The reading thread may wait at a full packet queue whose decoder waits
    // at a full sample queue; closed sample queues let the decoders drain.
    audioQueue.close();
    videoQueue.close();
    {
        QMutexLocker lock(&mutex);
        endOfFile = false;
        wakeAll();
    }
    wait();
    QMutexLocker lock(&mutex);
    paused = false;
}

void OggReader::run()
{
    HARBEND_LOG(Debug, "Starting reading thread.");
    QMutexLocker lock(&mutex);
    while (running) {
        if (!pauseRequested && !endOfFile && !read()) {
            endOfFile = true;
            emit eof();
        }
        while (endOfFile && running)
            endOfFileCondition.wait(&mutex);
        while (pauseRequested && running) {
            paused = true;
            pausedCondition.wakeAll();
            resumeCondition.wait(&mutex);
        }
        paused = false;
        // Between pages a seek or a close may take the lock.
        lock.unlock();
        lock.relock();
    }
    lock.unlock();
    HARBEND_LOG(Debug, "Stopping reading thread.");
}

void OggReader::close()
{
    Q_ASSERT(onGuiThread());
    stopReading();
    // The reading thread has ended: the streams are switched off without the
    // reader's lock, which is only ever taken after a stream's own.
    if (device && device->isOpen()) {
        dropStreams();
        if (metaDataControl)
            metaDataControl->clearMetaData();
        HARBEND_LOG(Info, "Closed Ogg file.");
    }
    {
        QMutexLocker lock(&mutex);
        // A new play reads from the start with a clean page sync.
        syncState.reset();
        endOfFile = false;
    }
    setTimes(-1, -1);
    dataEnd = -1;
    setPosition(-1);
    if (device && device->isOpen())
        device->seek(0);
    pauseRequested = false;
}

void OggReader::disableAudioStream()
{
    if (!audioStream)
        return;
    audioStream->deactivateStream();
    emit audioAvailable(false);
}

void OggReader::disableVideoStream()
{
    if (!videoStream)
        return;
    videoStream->deactivateStream();
    emit videoAvailable(false);
}

void OggReader::preSeek()
{
    Q_ASSERT(onGuiThread());
    HARBEND_LOG(Debug, "Stopping streams...");
    pauseRequested = true;
    // Closing the packet queues also frees a reading thread waiting at one.
    for (const QSharedPointer<OggStream>& stream : streams)
        stream->preSeek();
    QMutexLocker lock(&mutex);
    eosCount = 0;
    endOfFile = false;
    endOfFileCondition.wakeAll();
    // A reading thread that has ended (or never started) acknowledges nothing.
    while (!paused && isRunning())
        pausedCondition.wait(&mutex, 50);
    pauseRequested = true;
    // An end of file met before the seek must not end the streams after it:
    // drop its end-of-stream calls that are still queued.
    for (const QSharedPointer<OggStream>& stream : streams)
        QCoreApplication::removePostedEvents(stream.data(), QEvent::MetaCall);
}

qint64 OggReader::seek(qint64 ms)
{
    Q_ASSERT(onGuiThread());
    QMutexLocker lock(&mutex);
    seekBytes = 0;
    seekPages = 0;
    qint64 result = -1;
    const QSharedPointer<OggStream> searched = audioStream ? audioStream : videoStream;
    if (!device) {
        HARBEND_LOG(Error, "No stream opened! Can't seek!");
    } else if (device->isSequential()) {
        HARBEND_LOG(Error, "Underlying stream is not seekable!");
    } else if (ms > endTime) {
        HARBEND_LOG(Error, "Can't seek past the stream duration!");
    } else if (!searched) {
        HARBEND_LOG(Error, "No active stream found, can't seek!");
    } else {
        syncState.reset();
        SeekPoint point = bisectionSearch(searched.data(), 0, dataEnd >= 0 ? dataEnd : device->size(), ms);
        // Audio decoders drop what lies before the target, so sound begins
        // there: they need reading to begin before it.
        if (searched == audioStream && point.offset >= 0) {
            point = audioResumePoint(searched.data(), point, ms);
            point.time = point.offset >= 0 ? ms : -1;
        }
        std::memset(&page, 0, sizeof page);
        if (point.offset >= 0 && syncState.moveTo(point.offset)) {
            for (const QSharedPointer<OggStream>& stream : streams)
                stream->postSeek(point.time);
            if (videoStream) {
                tuneVideo(point.offset);
                syncState.moveTo(point.offset);
            }
            pauseRequested = false;
            resumeCondition.wakeAll();
            result = point.time;
        } else {
            HARBEND_LOG(Error, "Failed to find desired seekpoint!");
        }
    }
    if (result < 0) {
        // The streams stay paused with closed queues until playback stops.
        pauseRequested = false;
        for (const QSharedPointer<OggStream>& stream : streams)
            stream->unlock();
        resumeCondition.wakeAll();
    }
    return result;
}

void OggReader::placeSeekScanner(OggPageScanner& scanner) const
{
    scanner.setDevice(device);
    // Past the last page of the streams played lie only junk or a later link.
    if (dataEnd >= 0)
        scanner.setEnd(dataEnd);
}

OggReader::SeekPoint OggReader::bisectionSearch(OggStream* stream, qint64 begin, qint64 end, qint64 target)
{
    OggPageScanner scanner;
    placeSeekScanner(scanner);
    CostTally tally{scanner, seekBytes, seekPages};
    ogg_page probed;
    const auto timeOf = [stream, &probed] { return stream->getTimeFromGranulepos(ogg_page_granulepos(&probed)); };
    // Where reading resumes when no page is close enough: just past the last
    // page known to end before the target, else the window's start.
    SeekPoint found{begin, 0};
    unsigned tries = 1;
    qint64 previous = begin;
    bool hit = false;
    while (!hit && end - begin >= kSmallestWindow) {
        qint64 probe;
        if (tries == 1 && endTime > 0)
            probe = qint64(static_cast<long double>(begin + end) * target / endTime);
        else
            probe = begin + (end - begin) / 2;
        probe = qBound(begin, probe, end);
        if (probe == previous)
            break;
        previous = probe;
        if (!scanner.moveTo(probe))
            return SeekPoint{-1, -1};
        // A probe behind the stream's last page narrows the window from above.
        const qint64 time = scanner.nextPageOf(stream->serialno, &probed, true) ? timeOf() : -1;
        if (time >= 0 && time + kSeekTolerance < target) {
            begin = scanner.pageEnd();
            found = SeekPoint{begin, time};
        } else if (time < 0 || time - kSeekTolerance > target) {
            end = probe;
        } else {
            found = SeekPoint{scanner.pageEnd(), time};
            hit = true;
            break;
        }
        ++tries;
    }
    // The probes fall after the window's start, so the page that begins right
    // there has not been looked at: walk the few pages from it.
    if (!hit && begin > 0 && scanner.moveTo(begin)) {
        while (scanner.nextPageOf(stream->serialno, &probed, true)) {
            const qint64 time = timeOf();
            if (time < 0 || time - kSeekTolerance > target)
                break;
            found = SeekPoint{scanner.pageEnd(), time};
            if (time + kSeekTolerance >= target)
                break;
        }
    }
    HARBEND_LOG(Debug, "Found seek point after %u tries.", tries);
    return found;
}

OggReader::SeekPoint OggReader::audioResumePoint(OggStream* stream, SeekPoint found, qint64 target)
{
    const qint64 latest = target - kAudioPreroll;
    if (found.time <= latest || found.offset == 0)
        return found;
    OggPageScanner scanner;
    placeSeekScanner(scanner);
    CostTally tally{scanner, seekBytes, seekPages};
    ogg_page scanned;
    // Step back to the last page that ends early enough: first by the bytes
    // that the missing time takes at the file's mean rate, then in growing
    // steps; the pages of a step end where the previous step began.
    const double size = double(device->size());
    const double bytesPerMs = endTime > 0 ? size / double(endTime) : 0.0;
    const double guess = OggPageScanner::ReadSize + double(found.time - latest) * bytesPerMs * 1.25;
    qint64 step = qint64(std::min(guess, size));
    qint64 until = found.offset;
    for (; until > 0; step = std::min<qint64>(2 * step, device->size())) {
        const qint64 from = std::max<qint64>(0, until - step);
        if (!scanner.moveTo(from))
            return SeekPoint{-1, -1};
        SeekPoint best{-1, -1};
        while (scanner.nextPageOf(stream->serialno, &scanned, true) && scanner.pageStart() < until) {
            const qint64 time = stream->getTimeFromGranulepos(ogg_page_granulepos(&scanned));
            if (time > latest)
                break;
            if (time >= 0)
                best = SeekPoint{scanner.pageEnd(), time};
        }
        if (best.offset >= 0)
            return best;
        until = from;
    }
    // The target lies within the preroll of the stream's start.
    return SeekPoint{0, 0};
}

void OggReader::tuneVideo(qint64 offset)
{
    OggStream* video = videoStream.data();
    qint64 granule = -1;
    const qint64 feedFrom = locateVideoFeed(*video, offset, granule);
    if (feedFrom < 0)
        return;
    OggPageScanner scanner;
    placeSeekScanner(scanner);
    CostTally tally{scanner, seekBytes, seekPages};
    ogg_page scanned;
    if (!scanner.moveTo(feedFrom) || !scanner.nextPageOf(video->serialno, &scanned, false))
        return void(lostVideoSync());
    // The key frame and what follows it up to the seek point.
    while (ogg_page_granulepos(&scanned) < granule && scanner.pageStart() < offset) {
        video->putPage(&scanned, false);
        if (!scanner.nextPageOf(video->serialno, &scanned, false))
            return void(lostVideoSync());
    }
    // Bounded: the decoder may wait at a full sample queue while output is paused.
    if (!video->waitUntilProcessed(kTuningWaitMs))
        HARBEND_LOG(Debug, "Video stream did not take the key frame in time; it goes on after the seek.");
}

qint64 OggReader::lostVideoSync()
{
    HARBEND_LOG(Debug, "Failed to synchronize page, can't tune video stream.");
    return -1;
}

qint64 OggReader::previousVideoGranule(int serialno, qint64 before)
{
    OggPageScanner scanner;
    placeSeekScanner(scanner);
    CostTally tally{scanner, seekBytes, seekPages};
    ogg_page scanned;
    // Step back in growing steps until a video page ends a packet before the
    // given page, then forward to the last such page.
    qint64 at = before;
    for (qint64 step = kFirstTuningStep; at > 0; step *= 2) {
        at = std::max<qint64>(0, at - step);
        if (!scanner.moveTo(at))
            return -1;
        qint64 last = -1;
        while (scanner.nextPageOf(serialno, &scanned, true) && scanner.pageStart() < before)
            last = ogg_page_granulepos(&scanned);
        if (last >= 0)
            return last;
    }
    return -1;
}

qint64 OggReader::locateVideoFeed(const OggStream& video, qint64 offset, qint64& granule)
{
    const int serialno = video.serialno;
    OggPageScanner scanner;
    placeSeekScanner(scanner);
    CostTally tally{scanner, seekBytes, seekPages};
    ogg_page scanned;

    if (!scanner.moveTo(offset) || !scanner.nextPageOf(serialno, &scanned, true))
        return lostVideoSync();
    granule = ogg_page_granulepos(&scanned);
    // The first picture that reading from the offset gives: the first of the
    // page's pictures. When they reach back past the page's own key frame,
    // they hang on the key frame of the previous page's last picture.
    const qint64 first = video.getFirstPictureGranulepos(granule, ogg_page_packets(&scanned));
    const bool continued = ogg_page_continued(&scanned);
    const qint64 keyFrame = video.getPreviousGranulepos(
        first >= 0 ? first : previousVideoGranule(serialno, scanner.pageStart()));
    if (keyFrame < 0) {
        HARBEND_LOG(Debug, "Failed to get previous video granulepos, can't tune video stream.");
        return -1;
    }
    if ((first == keyFrame && !continued) || offset == 0)
        return -1;

    // Step back in growing steps until a video page before the key frame.
    qint64 at = offset;
    for (qint64 step = kFirstTuningStep;; step *= 2) {
        at = std::max<qint64>(0, at - step);
        if (!scanner.moveTo(at) || !scanner.nextPageOf(serialno, &scanned, true))
            return lostVideoSync();
        if (ogg_page_granulepos(&scanned) < keyFrame)
            break;
        if (at == 0)
            return -1;
    }

    // Forward to the page on which the key frame ends (the first with a granule
    // position of at least its own: it need not be the page's last packet),
    // remembering where the first packet that this page ends begins: on the
    // first page since the last granule page that starts a packet, else on that
    // granule page itself. The decoder skips what comes before the key frame.
    qint64 lastGranulePage = scanner.pageStart();
    qint64 packetStart = -1;
    for (;;) {
        if (!scanner.nextPageOf(serialno, &scanned, false))
            return lostVideoSync();
        const qint64 pageGranule = ogg_page_granulepos(&scanned);
        if (pageGranule >= keyFrame)
            break;
        if (pageGranule >= 0) {
            lastGranulePage = scanner.pageStart();
            packetStart = -1;
        } else if (packetStart < 0 && !ogg_page_continued(&scanned)) {
            packetStart = scanner.pageStart();
        }
    }
    if (!ogg_page_continued(&scanned))
        return scanner.pageStart();
    return packetStart >= 0 ? packetStart : lastGranulePage;
}

} // namespace Harbend
