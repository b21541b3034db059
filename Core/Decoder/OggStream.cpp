#include "Core/Decoder/OggStream.h"

#include "Core/Base/RecorderChannels.h"
#include "Core/Decoder/ByteReader.h"
#include "Core/Decoder/Codecs/DecoderAudioOpus.h"
#include "Core/Decoder/Codecs/OpusHeader.h"
#include "Core/Decoder/Codecs/SpeexHeader.h"
#include "Core/Decoder/Decoder.h"
#include "Core/Decoder/DiracBs.h"
#include "Core/Decoder/EOSSample.h"
#include "Core/Decoder/SampleQueue.h"
#include "Core/Output/VideoFrameFormat.h"

#include <QDeadlineTimer>

#include <cstring>
#include <limits>

namespace Harbend {

namespace {

const char kLogSource[] = "Core/Decoder/OggStream";

// More extra headers than this is a lying field, not a Speex stream.
const quint32 kSpeexMostExtraHeaders = 255;

// The highest sampling rate a recorder makes; higher ones only size huge blocks.
const quint32 kHighestRate = 192000;
// The largest picture a recorder makes: each side, and the area.
const quint64 kLargestFrameSide = 16384;
const quint64 kLargestFrameArea = quint64(1) << 26;

// The longest part of one comment that is parsed.
const qint64 kCommentBytes = 255;

// The largest time in milliseconds whose nanoseconds still fit into 64 bits.
const double kLargestMilliseconds = double(std::numeric_limits<qint64>::max() / 1000000);

struct DiracFormat {
    quint32 width;
    quint32 height;
    unsigned rateIndex;
};

const DiracFormat kDiracFormats[] = {
    {640, 480, 1},   {176, 120, 9},   {176, 144, 10},  {352, 240, 9},   {352, 288, 10}, {704, 480, 9},
    {704, 576, 10},  {720, 480, 4},   {720, 576, 3},   {1280, 720, 7},  {1280, 720, 6}, {1920, 1080, 4},
    {1920, 1080, 3}, {1920, 1080, 7}, {1920, 1080, 6}, {2048, 1080, 2}, {4096, 2160, 2}};
const unsigned kDiracLastFormat = sizeof kDiracFormats / sizeof kDiracFormats[0] - 1;

const quint32 kDiracFrameRates[][2] = {{1, 1},  {24000, 1001}, {24, 1}, {25, 1},       {30000, 1001}, {30, 1},
                                       {50, 1}, {60000, 1001}, {60, 1}, {15000, 1001}, {25, 2}};
const unsigned kDiracLastFrameRate = sizeof kDiracFrameRates / sizeof kDiracFrameRates[0] - 1;

} // namespace

Logging::Log OggStream::ms_log("OggStream", Logging::Log::systemLogger());

OggStream::OggStream(int serialno) : serialno(serialno)
{
    std::memset(&packet, 0, sizeof packet);
    ogg_stream_init(&streamState, serialno);
}

OggStream::~OggStream()
{
    deactivateStream();
    ogg_stream_clear(&streamState);
}

bool OggStream::putPageBOS(ogg_page* page)
{
    if (ogg_stream_pagein(&streamState, page) != 0)
        return false;
    // Peeked only: the packet comes out again as packet 0 with the next page.
    ogg_packet first;
    if (ogg_stream_packetpeek(&streamState, &first) != 1) {
        HARBEND_LOG(Error, "Failed to read BOS packet! Stream corrupted?");
        return false;
    }
    return parseIdentification(first.packet, first.bytes);
}

bool OggStream::parseIdentification(unsigned char* data, long bytes)
{
    std::memset(&packet, 0, sizeof packet);
    packet.packet = data;
    packet.bytes = bytes;
    if (!parseHeaders())
        return false;
    if (info.mediaType == MediaType::Audio)
        HARBEND_LOG(Info, "Audio data, sampling rate %u, %u channels.", info.rate, info.channels);
    else
        HARBEND_LOG(Info, "Video data, width %u, height %u, fps %0.3f.", info.width, info.height, info.granuleRate);
    return true;
}

bool OggStream::putPage(ogg_page* page, bool mayWait)
{
    QMutexLocker pageLock(&pageMutex);
    if (!active && info.headersMissing == 0)
        return ogg_page_serialno(page) == serialno;
    if (info.headersMissing < 0)
        return false;
    if (ogg_stream_pagein(&streamState, page) != 0)
        return false;
    QVector<QSharedPointer<OggPacket>> data;
    for (;;) {
        const int result = ogg_stream_packetout(&streamState, &packet);
        if (result == 0)
            break;
        if (result < 0)
            continue; // a gap in the stream: the next packet follows
        QSharedPointer<OggPacket> copy(new OggPacket(packet));
        if (info.headersMissing == 0) {
            data.append(copy);
            continue;
        }
        if (packet.packetno == 1 && (info.codec == Codec::Speex || info.codec == Codec::Vorbis))
            parseMetaData();
        headers.append(copy);
        --info.headersMissing;
    }
    if (info.codec == Codec::Theora)
        placeTheoraPictures(data);
    for (const QSharedPointer<OggPacket>& copy : data) {
        if (mayWait)
            packetQueue.enqueue(copy);
        else
            packetQueue.enqueueWithoutWait(copy);
    }
    return true;
}

void OggStream::placeTheoraPictures(const QVector<QSharedPointer<OggPacket>>& packets) const
{
    // Only a page's last packet carries a granule position. Each Theora packet
    // is one picture, so the pictures before it on the page, back to its key
    // frame, are known too; without them a decoder that starts after a seek
    // could not place its first pictures and would drop them.
    if (packets.isEmpty() || packets.last()->granulepos < 0)
        return;
    const qint64 last = packets.last()->granulepos;
    const qint64 sinceKeyFrame = last & ((qint64(1) << info.granuleShift) - 1);
    for (int back = 1; back <= packets.size() - 1 && back <= sinceKeyFrame; ++back) {
        OggPacket& earlier = *packets[packets.size() - 1 - back];
        if (earlier.granulepos < 0)
            earlier.granulepos = last - back;
    }
}

bool OggStream::activateStream(SampleQueue* queue)
{
    packetQueue.open();
    sampleQueue = queue;
    active = true;
    return openDecoder();
}

void OggStream::deactivateStream()
{
    active = false;
    packetQueue.close();
    closeDecoder();
}

bool OggStream::openDecoder()
{
    if (info.codec == Codec::Unknown) {
        HARBEND_LOG(Error, "Can't open decoder for stream #%d, since it's BOS page has not been read yet.", serialno);
        return false;
    }
    if (info.headersMissing != 0) {
        HARBEND_LOG(Error, "Can't open decoder for stream #%d, since it's header packets have not been read yet.",
                    serialno);
        return false;
    }
    decoder = Decoder::createDecoder(info.codec);
    if (!decoder) {
        HARBEND_LOG(Error, "Failed to create decoder for stream #%u!", serialno);
        return false;
    }
    if (!decoder->open(&headers)) {
        HARBEND_LOG(Error, "Failed to initialize decoder for stream #%u!", serialno);
        return false;
    }
    if (!sampleQueue) {
        HARBEND_LOG(Error, "Failed to start decoding thread for stream #%u!", serialno);
        return false;
    }
    sampleQueue->open();
    running = 1;
    start(QThread::NormalPriority);
    if (!isRunning() && !isFinished()) {
        running = 0;
        HARBEND_LOG(Error, "Failed to start decoding thread for stream #%u!", serialno);
        return false;
    }
    return true;
}

void OggStream::closeDecoder()
{
    running = 0;
    seeking = false;
    // The queue is closed now (a blocked addSample returns) but the pointer
    // stays until the thread has finished, since the thread still reads it.
    if (sampleQueue)
        sampleQueue->close();
    packetQueue.close();
    mutex.lock();
    waitCondition.wakeOne();
    mutex.unlock();
    wait();
    if (sampleQueue) {
        sampleQueue->clear();
        sampleQueue = nullptr;
    }
    if (decoder) {
        decoder->close();
        delete decoder;
        decoder = nullptr;
    }
    packetQueue.clear();
    {
        QMutexLocker pageLock(&pageMutex);
        ogg_stream_reset(&streamState);
    }
}

void OggStream::preSeek()
{
    seeking = true;
    packetQueue.close();
    packetQueue.clear();
    if (sampleQueue) {
        sampleQueue->close();
        sampleQueue->clear();
    }
    mutex.lock();
}

bool OggStream::postSeek(qint64 ms)
{
    packetQueue.clear();
    if (sampleQueue)
        sampleQueue->open();
    currentPacket.clear();
    {
        QMutexLocker pageLock(&pageMutex);
        ogg_stream_reset(&streamState);
    }
    if (active)
        packetQueue.open();
    bool result = true;
    if (decoder)
        result = decoder->seeked(ms * 1000000);
    seeking = false;
    waitCondition.wakeOne();
    mutex.unlock();
    return result;
}

void OggStream::unlock() { mutex.unlock(); }

bool OggStream::waitUntilProcessed(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                                : QDeadlineTimer(qint64(timeoutMs)));
    while (!packetQueue.isClosedOrEmpty()) {
        if (deadline.hasExpired())
            return false;
        QThread::usleep(20);
    }
    return true;
}

qint64 OggStream::getTimeFromGranulepos(qint64 granulepos) const
{
    if (granulepos < 0)
        return -1;
    double units = 0.0;
    switch (info.codec) {
    case Codec::Opus:
    case Codec::Speex:
    case Codec::Vorbis:
        units = double(granulepos);
        break;
    case Codec::Theora: {
        const qint64 mask = (qint64(1) << info.granuleShift) - 1;
        units = double((granulepos >> info.granuleShift) + (granulepos & mask) - info.granuleOffset);
        break;
    }
    case Codec::Dirac:
        units = double(granulepos >> 32);
        break;
    default:
        HARBEND_LOG(Error, "Invalid codec requested; can't compute granulepos!");
        return -1;
    }
    if (!(info.granuleRate > 0.0))
        return -1;
    const double ms = units * 1000.0 / info.granuleRate;
    if (!(ms < kLargestMilliseconds))
        return -1;
    return static_cast<qint64>(ms);
}

qint64 OggStream::getPreviousGranulepos(qint64 granulepos) const
{
    if (granulepos < 0)
        return -1;
    if (info.codec == Codec::Theora)
        return (granulepos >> info.granuleShift) << info.granuleShift;
    return granulepos;
}

qint64 OggStream::getFirstPictureGranulepos(qint64 granulepos, int packets) const
{
    if (granulepos < 0 || info.codec != Codec::Theora || packets <= 1)
        return granulepos;
    const qint64 sinceKeyFrame = granulepos & ((qint64(1) << info.granuleShift) - 1);
    return sinceKeyFrame >= packets - 1 ? granulepos - (packets - 1) : -1;
}

QAudioFormat OggStream::pcmFormat(int rate)
{
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(1);
    format.setByteOrder(QAudioFormat::LittleEndian);
    format.setSampleType(QAudioFormat::SignedInt);
    format.setSampleSize(16);
    format.setCodec(QStringLiteral("audio/pcm"));
    return format;
}

QAudioFormat OggStream::getAudioFormat() const { return pcmFormat(int(info.rate)); }

QVideoSurfaceFormat OggStream::getVideoFormat() const { return videoFormatOf(info); }

QVideoSurfaceFormat OggStream::videoFormatOf(const StreamInfo& info)
{
    const QVideoFrame::PixelFormat formats[] = {QVideoFrame::Format_YUV420P, QVideoFrame::Format_Invalid,
                                                QVideoFrame::Format_YUV422P, QVideoFrame::Format_YUV444};
    const QVideoFrame::PixelFormat format = info.codec == Codec::Theora ? formats[info.theoraChroma & 3]
                                                                        : QVideoFrame::Format_YUV420P;
    return VideoFrameFormat::create(info.width, info.height, info.fpsNumerator, info.fpsDenominator, format);
}

void OggStream::putEOSPacket()
{
    // The GUI thread must not wait here for a decoder that may be stalled.
    packetQueue.enqueueWithoutWait(OggPacket::createEndOfStreamMarker());
}

void OggStream::run()
{
    HARBEND_LOG(Debug, "Starting decoding thread for stream #%u.", serialno);
    while (running) {
        QMutexLocker lock(&mutex);
        while (seeking && running)
            waitCondition.wait(&mutex);
        currentPacket = packetQueue.dequeue();
        // Null once the queue is closed: the decoder may be on its way out.
        if (!currentPacket || !decoder)
            continue;
        const bool repeatedHeader = currentPacket->packetno < qint64(info.headerCount) &&
                                    currentPacket->granulepos == 0;
        if (!repeatedHeader) {
            bool finished = false;
            while (running && !seeking && !finished) {
                Sample* sample = nullptr;
                finished = decoder->decode(currentPacket, sample);
                if (sample)
                    sampleQueue->addSample(QSharedPointer<Sample>(sample));
            }
        }
        if (!seeking && currentPacket->isEndOfStreamMarker())
            sampleQueue->addSample(QSharedPointer<Sample>(new EOSSample));
    }
    {
        // A seek may clear it at the same time.
        QMutexLocker lock(&mutex);
        currentPacket.clear();
    }
    HARBEND_LOG(Debug, "Closing decoding thread for stream #%u.", serialno);
}

bool OggStream::checkRate(quint32 rate, const char* what, quint32 highest)
{
    if (rate != 0 && rate <= highest)
        return true;
    HARBEND_LOG(Error, "Invalid header in stream #%d: %s of %u!", serialno, what, rate);
    return false;
}

bool OggStream::checkFrameSize(quint32 width, quint32 height, const char* what, quint32 multiple)
{
    if (width > 0 && height > 0 && width % multiple == 0 && height % multiple == 0 && width <= kLargestFrameSide &&
        height <= kLargestFrameSide && quint64(width) * height <= kLargestFrameArea)
        return true;
    HARBEND_LOG(Error, "Invalid header in stream #%d: %s of %ux%u!", serialno, what, width, height);
    return false;
}

bool OggStream::parseHeaders()
{
    const ByteReader bytes(packet.packet, packet.bytes);
    bool (OggStream::*parser)() = nullptr;
    const char* name = nullptr;
    if (bytes.matches(0, "OpusHead", 8)) {
        parser = &OggStream::parseHeadersOpus;
        name = "Opus";
    } else if (bytes.matches(0, "Speex", 5)) {
        parser = &OggStream::parseHeadersSpeex;
        name = "Speex";
    } else if (bytes.matches(0, "\x01vorbis", 7)) {
        parser = &OggStream::parseHeadersVorbis;
        name = "Vorbis";
    } else if (bytes.matches(0, "\x80theora", 7)) {
        parser = &OggStream::parseHeadersTheora;
        name = "Theora";
    } else if (bytes.matches(0, "BBCD\0", 5) || bytes.matches(0, "KW-DIRAC\0", 9)) {
        parser = &OggStream::parseHeadersDirac;
        name = "Dirac";
    } else {
        HARBEND_LOG(Warning, "Stream #%d contains unsupported data.", serialno);
        return false;
    }
    HARBEND_LOG(Info, "Stream #%d contains %s data.", serialno, name);
    if (!(this->*parser)())
        return false;
    info.headersMissing = int(info.headerCount);
    headers.reserve(int(info.headerCount));
    return true;
}

bool OggStream::parseHeadersOpus()
{
    info.codec = Codec::Opus;
    info.mediaType = MediaType::Audio;
    OpusHeader header;
    if (!header.read(packet.packet, packet.bytes)) {
        HARBEND_LOG(Error, "Invalid Opus header!");
        return false;
    }
    if (header.version != 1) {
        HARBEND_LOG(Error, "Invalid Opus header! Version number: %d!", int(header.version));
        return false;
    }
    if (header.channels >= 2 && !header.mapping) {
        HARBEND_LOG(Error, "Invalid Opus header! Too short for channel mapping!");
        return false;
    }
    if (!checkRate(header.channels, "channel count"))
        return false;
    // 0 stands for an unknown input rate.
    if (header.inputRate != 0 && !checkRate(header.inputRate, "input sampling rate", kHighestRate))
        return false;
    info.channels = header.channels;
    // Granule positions count 48 kHz samples whatever the input rate was;
    // the decoder runs at the input rate only where libopus supports it.
    info.rate = DecoderAudioOpus::decodingRate(header.inputRate);
    info.granuleRate = DecoderAudioOpus::kGranuleRate;
    info.headerCount = 1;
    return true;
}

bool OggStream::parseHeadersSpeex()
{
    info.codec = Codec::Speex;
    info.mediaType = MediaType::Audio;
    SpeexHeader header;
    if (!header.read(packet.packet, packet.bytes)) {
        HARBEND_LOG(Error, "Invalid Speex header! Only %ld bytes.", packet.bytes);
        return false;
    }
    if (serialno == 1 && header.channels == 1 && header.extraHeaders == 1) {
        // The recorder's 13-channel form: declare the channels in the packet
        // itself, so that the decoder sees them too.
        SpeexHeader::declareChannels(packet.packet, RecorderChannels);
        header.read(packet.packet, packet.bytes);
    }
    if (!checkRate(header.rate, "sampling rate", kHighestRate) || !checkRate(header.channels, "channel count") ||
        !checkRate(header.framesPerPacket, "frames per packet"))
        return false;
    if (header.extraHeaders > kSpeexMostExtraHeaders) {
        HARBEND_LOG(Error, "Invalid Speex header! %u extra headers.", header.extraHeaders);
        return false;
    }
    info.rate = header.rate;
    info.channels = header.channels;
    info.headerCount = header.extraHeaders + 2;
    info.granuleRate = header.rate;
    return true;
}

bool OggStream::parseHeadersVorbis()
{
    info.codec = Codec::Vorbis;
    info.mediaType = MediaType::Audio;
    oggpack_buffer buffer;
    oggpack_readinit(&buffer, packet.packet, int(packet.bytes));
    oggpack_read(&buffer, 8);
    for (int i = 0; i < 6; ++i)
        oggpack_read(&buffer, 8);
    oggpack_read(&buffer, 32);
    const quint32 channels = quint32(oggpack_read(&buffer, 8));
    const quint32 rate = quint32(oggpack_read(&buffer, 32));
    if (!checkRate(rate, "sampling rate", kHighestRate) || !checkRate(channels, "channel count"))
        return false;
    info.channels = channels;
    info.rate = rate;
    info.headerCount = 3;
    info.granuleRate = rate;
    return true;
}

bool OggStream::parseHeadersTheora()
{
    info.codec = Codec::Theora;
    info.mediaType = MediaType::Video;
    if (packet.bytes <= 41) {
        HARBEND_LOG(Error, "Corrupted Theora identification header! Can't decode stream #%d!", serialno);
        return false;
    }
    const ByteReader bytes(packet.packet, packet.bytes);
    quint32 major = 0, minor = 0, revision = 0, widthMbs = 0, heightMbs = 0;
    quint32 numerator = 0, denominator = 0, shiftHigh = 0, shiftLow = 0;
    bytes.u8(7, major);
    bytes.u8(8, minor);
    bytes.u8(9, revision);
    bytes.be16(10, widthMbs);
    bytes.be16(12, heightMbs);
    bytes.be32(22, numerator);
    bytes.be32(26, denominator);
    bytes.u8(40, shiftHigh);
    bytes.u8(41, shiftLow);
    if (!checkRate(numerator, "frame rate numerator") || !checkRate(denominator, "frame rate denominator") ||
        !checkFrameSize(widthMbs * 16, heightMbs * 16))
        return false;
    info.width = widthMbs * 16;
    info.height = heightMbs * 16;
    // What is shown is the picture region inside the coded frame.
    quint32 picture[6] = {};
    for (int i = 0; i < 6; ++i)
        bytes.u8(14 + i, picture[i]);
    const quint32 pictureWidth = picture[0] << 16 | picture[1] << 8 | picture[2];
    const quint32 pictureHeight = picture[3] << 16 | picture[4] << 8 | picture[5];
    quint32 pictureX = 0, pictureY = 0;
    bytes.u8(20, pictureX);
    bytes.u8(21, pictureY);
    // The decoder writes pictures of the region's size: no other size may stand for it.
    if (!checkFrameSize(pictureWidth, pictureHeight, "picture size"))
        return false;
    if (pictureWidth + pictureX > info.width || pictureHeight + pictureY > info.height) {
        HARBEND_LOG(Error, "Invalid header in stream #%d: picture of %ux%u at %u,%u outside the frame of %ux%u!",
                    serialno, pictureWidth, pictureHeight, pictureX, pictureY, info.width, info.height);
        return false;
    }
    info.width = pictureWidth;
    info.height = pictureHeight;
    info.theoraChroma = (shiftLow >> 3) & 3;
    info.fpsNumerator = numerator;
    info.fpsDenominator = denominator;
    info.granuleRate = double(numerator) / double(denominator);
    info.granuleShift = int(((shiftHigh & 3) << 3) | (shiftLow >> 5));
    info.granuleOffset = major * 1000000 + minor * 1000 + revision > 3002000 ? 1 : 0;
    info.headerCount = 3;
    return true;
}

bool OggStream::parseHeadersDirac()
{
    info.codec = Codec::Dirac;
    info.mediaType = MediaType::Video;
    // The parse-info header (13 bytes) and at least one byte of sequence header.
    const long parseInfoBytes = 13;
    if (packet.bytes < parseInfoBytes + 1) {
        HARBEND_LOG(Error, "Corrupted Dirac header! Can't decode stream #%d!", serialno);
        return false;
    }
    DiracBs bits(packet.packet + parseInfoBytes, packet.bytes - parseInfoBytes);
    for (int i = 0; i < 4; ++i)
        bits.uint();
    const unsigned format = bits.uint();
    if (bits.failed()) {
        HARBEND_LOG(Error, "Corrupted Dirac header! Can't decode stream #%d!", serialno);
        return false;
    }
    if (format > kDiracLastFormat) {
        HARBEND_LOG(Warning, "Invalid video format in Dirac header!");
        return false;
    }
    quint32 width = kDiracFormats[format].width;
    quint32 height = kDiracFormats[format].height;
    unsigned rateIndex = kDiracFormats[format].rateIndex;
    if (bits.read(1)) {
        width = bits.uint();
        height = bits.uint();
    }
    if (bits.read(1))
        bits.uint();
    if (bits.read(1))
        bits.uint();
    quint32 numerator = kDiracFrameRates[rateIndex][0];
    quint32 denominator = kDiracFrameRates[rateIndex][1];
    if (bits.read(1)) {
        rateIndex = bits.uint();
        if (rateIndex > kDiracLastFrameRate) {
            HARBEND_LOG(Warning, "Invalid frame rate in Dirac header!");
            return false;
        }
        numerator = kDiracFrameRates[rateIndex][0];
        denominator = kDiracFrameRates[rateIndex][1];
        if (rateIndex == 0) {
            numerator = bits.uint();
            denominator = bits.uint();
        }
    }
    if (bits.failed()) {
        HARBEND_LOG(Error, "Corrupted Dirac header! Can't decode stream #%d!", serialno);
        return false;
    }
    // The decoder takes 4:2:0 pictures only, whose chroma halves each side exactly.
    if (!checkRate(numerator, "frame rate numerator") || !checkRate(denominator, "frame rate denominator") ||
        !checkFrameSize(width, height, "frame size", 2))
        return false;
    info.width = width;
    info.height = height;
    info.fpsNumerator = numerator;
    info.fpsDenominator = denominator;
    info.granuleRate = double(numerator) / double(denominator);
    info.headerCount = 1;
    return true;
}

void OggStream::parseMetaData()
{
    HARBEND_LOG(Info, "Parsing meta data for stream #%d.", serialno);
    const qint64 length = packet.bytes;
    qint64 offset = 0;
    qint64 minimum = 8;
    if (info.codec == Codec::Vorbis) {
        if (length < 7) {
            HARBEND_LOG(Warning, "Corrupted Vorbis comment packet found.");
            return;
        }
        offset = 7;
        minimum = 15;
    }
    if (length < minimum) {
        HARBEND_LOG(Debug, "No metadata found.");
        return;
    }
    const ByteReader bytes(packet.packet, length);
    quint32 vendorLength = 0;
    bytes.le32(offset, vendorLength);
    offset += 4 + qint64(vendorLength);
    quint32 count = 0;
    if (!bytes.le32(offset, count)) {
        HARBEND_LOG(Warning, "Packet containing meta data is corrupted!");
        return;
    }
    offset += 4;
    for (quint32 i = 0; i < count; ++i) {
        quint32 commentLength = 0;
        if (!bytes.le32(offset, commentLength)) {
            HARBEND_LOG(Warning, "Packet containing meta data is corrupted!");
            return;
        }
        offset += 4;
        const qint64 parsed = qMin<qint64>(commentLength, kCommentBytes);
        if (!bytes.has(offset, parsed)) {
            HARBEND_LOG(Warning, "Packet containing meta data is corrupted!");
            return;
        }
        char comment[kCommentBytes + 1];
        std::memcpy(comment, packet.packet + offset, size_t(parsed));
        comment[parsed] = 0;
        offset += qint64(commentLength);
        const char* equals = static_cast<const char*>(std::memchr(comment, '=', size_t(parsed)));
        if (!equals)
            continue;
        const QString key = QString::fromUtf8(comment, int(equals - comment));
        metadata.insert(key, QVariant(QString::fromUtf8(equals + 1)));
    }
    HARBEND_LOG(Debug, "Found %u meta data objects in stream #%d.", unsigned(metadata.size()), serialno);
}

} // namespace Harbend
