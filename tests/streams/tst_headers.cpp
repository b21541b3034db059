#include "CountingBuffer.h"
#include "Recording.h"

#include "Core/Decoder/AudioSample.h"
#include "Core/Decoder/Codecs/DecoderAudioOpus.h"
#include "Core/Decoder/Codecs/DecoderAudioSpeex.h"
#include "Core/Decoder/Codecs/DecoderAudioVorbis.h"
#include "Core/Decoder/Decoder.h"
#include "Core/Decoder/DiracBs.h"
#include "Core/Decoder/OggPageScanner.h"
#include "Core/Decoder/OggReader.h"
#include "Core/Decoder/OggStream.h"
#include "Core/Decoder/SampleQueue.h"
#include "Core/Decoder/VideoSample.h"
#include "Core/Multimedia/MetaDataControl.h"
#include "tests/fuzz/PacketStream.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QVideoSurfaceFormat>
#include <QtTest>

#include <ogg/ogg.h>

#include <algorithm>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

using namespace Harbend;

namespace {

// A beginning-of-stream page holding one packet, as raw page bytes.
QByteArray bosPage(int serial, const QByteArray& payload)
{
    ogg_stream_state state;
    ogg_stream_init(&state, serial);
    ogg_packet packet;
    packet.packet = reinterpret_cast<unsigned char*>(const_cast<char*>(payload.constData()));
    packet.bytes = payload.size();
    packet.b_o_s = 1;
    packet.e_o_s = 0;
    packet.granulepos = 0;
    packet.packetno = 0;
    ogg_stream_packetin(&state, &packet);
    ogg_page page;
    QByteArray raw;
    if (ogg_stream_flush(&state, &page)) {
        raw = QByteArray(reinterpret_cast<const char*>(page.header), int(page.header_len));
        raw.append(reinterpret_cast<const char*>(page.body), int(page.body_len));
    }
    ogg_stream_clear(&state);
    return raw;
}

bool putBos(OggStream& stream, const QByteArray& payload)
{
    QByteArray raw = bosPage(stream.serialno, payload);
    ogg_page page = Recording::asPage(raw);
    return stream.putPageBOS(&page);
}

void le32(QByteArray& data, int offset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        data[offset + i] = char(value >> (8 * i));
}

void be32(QByteArray& data, int offset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        data[offset + i] = char(value >> (24 - 8 * i));
}

QByteArray speexHeader(quint32 channels, quint32 extraHeaders, int size = 80)
{
    QByteArray header(size, '\0');
    header.replace(0, 8, "Speex   ");
    if (size >= 80) {
        le32(header, 28, 1);
        le32(header, 32, 80);
        le32(header, 36, 16000);
        le32(header, 40, 1);
        le32(header, 44, 4);
        le32(header, 48, channels);
        le32(header, 56, 320);
        le32(header, 64, 1);
        le32(header, 68, extraHeaders);
    }
    return header;
}

QByteArray opusHeader(int channels, int size, int version = 1, quint32 rate = 48000)
{
    QByteArray header(size, '\0');
    header.replace(0, 8, "OpusHead");
    header[8] = char(version);
    header[9] = char(channels);
    le32(header, 12, rate);
    return header;
}

QByteArray theoraHeader(int major, int minor, int revision, quint32 numerator, quint32 denominator,
                        unsigned char shiftHigh, unsigned char shiftLow, int size = 42)
{
    QByteArray header(size, '\0');
    header[0] = char(0x80);
    header.replace(1, 6, "theora");
    header[7] = char(major);
    header[8] = char(minor);
    header[9] = char(revision);
    header[11] = 20;             // 320 pixels
    header[13] = 15;             // 240 pixels
    header[15] = char(320 >> 8); // the picture: all of it
    header[16] = char(320 & 0xff);
    header[19] = char(240);
    be32(header, 22, numerator);
    be32(header, 26, denominator);
    header[40] = char(shiftHigh);
    header[41] = char(shiftLow);
    return header.left(size);
}

// Dirac sequence header bits, written most significant bit first.
class Bits {
public:
    void bit(int b) { bits.append(b ? 1 : 0); }
    // Interleaved exp-Golomb code.
    void uint(unsigned value)
    {
        const quint64 v = quint64(value) + 1;
        int top = 63;
        while (!((v >> top) & 1))
            --top;
        for (int i = top - 1; i >= 0; --i) {
            bit(0);
            bit(int((v >> i) & 1));
        }
        bit(1);
    }
    QByteArray bytes() const
    {
        QByteArray out((bits.size() + 7) / 8, '\0');
        for (int i = 0; i < bits.size(); ++i)
            if (bits[i])
                out[i / 8] = char(out[i / 8] | (0x80 >> (i % 8)));
        return out;
    }
    QVector<int> bits;
};

QByteArray diracHeader(const Bits& bits)
{
    QByteArray header("BBCD", 4);
    header.append('\0');
    header.append(QByteArray(8, '\0'));
    return header + bits.bytes();
}

Bits diracStart(unsigned format)
{
    Bits bits;
    for (int i = 0; i < 4; ++i)
        bits.uint(2);
    bits.uint(format);
    return bits;
}

// A packet whose bytes end where readable memory ends: a read past them faults.
QSharedPointer<OggPacket> guardedPacket(const ogg_packet& raw)
{
    OggPacket* packet = new OggPacket(raw);
    const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
    const std::size_t span = (std::size_t(packet->bytes) + page - 1) / page * page + page;
    void* memory = mmap(nullptr, span + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return QSharedPointer<OggPacket>(packet);
    unsigned char* base = static_cast<unsigned char*>(memory);
    mprotect(base + span, page, PROT_NONE);
    unsigned char* own = packet->packet;
    if (own) {
        packet->packet = base + span - packet->bytes;
        std::memcpy(packet->packet, own, std::size_t(packet->bytes));
    }
    return QSharedPointer<OggPacket>(packet, [own, memory, span, page](OggPacket* p) {
        p->packet = own;
        delete p;
        munmap(memory, span + page);
    });
}

// The end time the reader finds in a file (-1 when it cannot open it), and
// the bytes it read to open it.
QPair<qint64, qint64> openRecording(QByteArray bytes)
{
    CountingBuffer buffer(&bytes);
    MetaDataControl metaData(nullptr);
    OggReader reader(&metaData, nullptr);
    const qint64 end = reader.open(&buffer) && reader.read() ? reader.getEndTime() : -1;
    const qint64 read = buffer.bytesRead;
    reader.close();
    return qMakePair(end, read);
}

// Where the last whole page of a file ends.
qint64 lastPageEnd(QByteArray bytes)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    OggPageScanner scanner;
    scanner.setDevice(&buffer);
    scanner.moveTo(0);
    ogg_page page;
    qint64 end = 0;
    while (scanner.nextPage(&page))
        end = scanner.pageEnd();
    return end;
}

} // namespace

// Identification and parsing of codec headers, hostile ones included.
class HeadersTest : public QObject {
    Q_OBJECT
private slots:
    void identification_data();
    void identification();
    void opusHeaders();
    void speexThirteenChannelRule();
    void speexRefusesHostileHeaders();
    void theoraFields();
    void diracFields();
    void diracRefusesHostileHeaders();
    void bitReader();
    void commentParsing();
    void factory();
    void decodersRefuseHostileHeaders();
    void decodersSurviveHostilePackets();
    void hostileInputs_data();
    void hostileInputs();

private:
    Recording::LogCapture log;
};

void HeadersTest::identification_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("codec");
    QTest::addColumn<QString>("line");
    QTest::newRow("four bytes") << QByteArray("Spee") << 0 << "Stream #3 contains unsupported data.";
    QTest::newRow("speex six bytes") << QByteArray("Speex ") << 2 << "Stream #3 contains Speex data.";
    QTest::newRow("opus") << opusHeader(1, 19) << 1 << "Stream #3 contains Opus data.";
    QTest::newRow("vorbis magic only") << QByteArray("\x01vorbis", 7) << 3 << "Stream #3 contains Vorbis data.";
    QTest::newRow("theora") << theoraHeader(3, 2, 1, 25, 1, 0, 0xC0) << 4 << "Stream #3 contains Theora data.";
    QTest::newRow("dirac") << diracHeader(diracStart(9)) << 5 << "Stream #3 contains Dirac data.";
    QTest::newRow("flac") << QByteArray("\x7f"
                                        "FLAC\x01\x00",
                                        7)
                          << 0 << "Stream #3 contains unsupported data.";
}

void HeadersTest::identification()
{
    QFETCH(QByteArray, payload);
    QFETCH(int, codec);
    QFETCH(QString, line);
    log.clear();
    OggStream stream(3);
    const bool accepted = putBos(stream, payload);
    QVERIFY(log.contains(line));
    if (codec == 0)
        QVERIFY(!accepted);
    QCOMPARE(int(stream.streamInfo().codec), codec);
}

void HeadersTest::opusHeaders()
{
    {
        log.clear();
        OggStream stream(1);
        QVERIFY(!putBos(stream, opusHeader(1, 18)));
        QVERIFY(log.contains("Invalid Opus header!"));
    }
    {
        log.clear();
        OggStream stream(1);
        QVERIFY(!putBos(stream, opusHeader(1, 19, 2)));
        QVERIFY(log.contains("Invalid Opus header! Version number: 2!"));
    }
    {
        OggStream stream(1);
        QVERIFY(putBos(stream, opusHeader(1, 19)));
        QCOMPARE(int(stream.streamInfo().headerCount), 1);
        QCOMPARE(int(stream.streamInfo().channels), 1);
    }
    {
        log.clear();
        OggStream stream(1);
        QVERIFY(!putBos(stream, opusHeader(2, 19)));
        QVERIFY(log.contains("Invalid Opus header! Too short for channel mapping!"));
    }
    {
        OggStream shortStream(1);
        QVERIFY(!putBos(shortStream, opusHeader(13, 33)));
        OggStream stream(1);
        QVERIFY(putBos(stream, opusHeader(13, 34)));
        QCOMPARE(int(stream.streamInfo().channels), 13);
    }
    // Input rates libopus cannot decode at play at 48 kHz; times always count 48 kHz.
    for (quint32 rate : {0u, 44100u, 16000u}) {
        OggStream stream(1);
        QVERIFY(putBos(stream, opusHeader(1, 19, 1, rate)));
        QCOMPARE(stream.streamInfo().rate, rate == 16000 ? 16000u : 48000u);
        QCOMPARE(stream.streamInfo().granuleRate, 48000.0);
        QCOMPARE(stream.getTimeFromGranulepos(96000), qint64(2000));
    }
    {
        log.clear();
        OggStream stream(1);
        QVERIFY(!putBos(stream, opusHeader(0, 19)));
        QVERIFY(log.contains("Invalid header in stream #1: channel count of 0!"));
    }
}

void HeadersTest::speexThirteenChannelRule()
{
    {
        OggStream stream(1);
        QVERIFY(putBos(stream, speexHeader(1, 1)));
        QCOMPARE(int(stream.streamInfo().channels), 13);
        QCOMPARE(int(stream.streamInfo().headerCount), 2);
        QCOMPARE(stream.streamInfo().headersMissing, 2);
    }
    {
        OggStream stream(2);
        QVERIFY(putBos(stream, speexHeader(1, 1)));
        QCOMPARE(int(stream.streamInfo().channels), 1);
        QCOMPARE(int(stream.streamInfo().headerCount), 3);
    }
    {
        OggStream stream(1);
        QVERIFY(putBos(stream, speexHeader(5, 0)));
        QCOMPARE(int(stream.streamInfo().channels), 5);
        QCOMPARE(int(stream.streamInfo().rate), 16000);
        QCOMPARE(stream.streamInfo().granuleRate, 16000.0);
    }
}

void HeadersTest::speexRefusesHostileHeaders()
{
    struct Case {
        QByteArray header;
        const char* line;
    };
    QByteArray zeroRate = speexHeader(1, 0);
    le32(zeroRate, 36, 0);
    QByteArray zeroFrames = speexHeader(1, 0);
    le32(zeroFrames, 64, 0);
    const Case cases[] = {
        {speexHeader(1, 0, 79), "Invalid Speex header! Only 79 bytes."},
        {speexHeader(1, 1, 72), "Invalid Speex header! Only 72 bytes."},
        {speexHeader(0, 0), "Invalid header in stream #1: channel count of 0!"},
        {zeroRate, "Invalid header in stream #1: sampling rate of 0!"},
        {zeroFrames, "Invalid header in stream #1: frames per packet of 0!"},
        {speexHeader(1, 0xFFFFFFFFu), "Invalid Speex header! 4294967295 extra headers."},
    };
    for (const Case& item : cases) {
        log.clear();
        OggStream stream(1);
        QVERIFY(!putBos(stream, item.header));
        QVERIFY2(log.contains(item.line), item.line);
    }
}

void HeadersTest::theoraFields()
{
    {
        OggStream stream(100);
        QVERIFY(putBos(stream, theoraHeader(3, 2, 0, 30000, 1001, 0x00, 0xC0)));
        QCOMPARE(stream.streamInfo().granuleShift, 6);
        QCOMPARE(stream.streamInfo().granuleOffset, 0);
        QCOMPARE(int(stream.streamInfo().width), 320);
        QCOMPARE(int(stream.streamInfo().height), 240);
        QCOMPARE(stream.streamInfo().granuleRate, 30000.0 / 1001.0);
        QCOMPARE(int(stream.streamInfo().headerCount), 3);
    }
    {
        OggStream stream(100);
        QVERIFY(putBos(stream, theoraHeader(3, 2, 1, 25, 1, 0x00, 0xC0)));
        QCOMPARE(stream.streamInfo().granuleOffset, 1);
    }
    {
        log.clear();
        OggStream stream(100);
        QVERIFY(!putBos(stream, theoraHeader(3, 2, 1, 25, 1, 0, 0, 41)));
        QVERIFY(log.contains("Corrupted Theora identification header! Can't decode stream #100!"));
    }
    for (const auto& rate : {qMakePair(0u, 1u), qMakePair(25u, 0u)}) {
        log.clear();
        OggStream stream(100);
        QVERIFY(!putBos(stream, theoraHeader(3, 2, 1, rate.first, rate.second, 0, 0)));
        QVERIFY(log.contains("Invalid header in stream #100: frame rate"));
    }
}

void HeadersTest::diracFields()
{
    {
        Bits bits = diracStart(9);
        for (int i = 0; i < 4; ++i)
            bits.bit(0);
        OggStream stream(100);
        QVERIFY(putBos(stream, diracHeader(bits)));
        QCOMPARE(int(stream.streamInfo().width), 1280);
        QCOMPARE(int(stream.streamInfo().height), 720);
        QCOMPARE(int(stream.streamInfo().fpsNumerator), 60000);
        QCOMPARE(int(stream.streamInfo().fpsDenominator), 1001);
        QCOMPARE(int(stream.streamInfo().headerCount), 1);
    }
    {
        Bits bits = diracStart(0);
        bits.bit(1);
        bits.uint(330);
        bits.uint(250);
        bits.bit(1);
        bits.uint(2);
        bits.bit(0);
        bits.bit(1);
        bits.uint(0);
        bits.uint(30000);
        bits.uint(1001);
        OggStream stream(100);
        QVERIFY(putBos(stream, diracHeader(bits)));
        QCOMPARE(int(stream.streamInfo().width), 330);
        QCOMPARE(int(stream.streamInfo().height), 250);
        QCOMPARE(int(stream.streamInfo().fpsNumerator), 30000);
        QCOMPARE(int(stream.streamInfo().fpsDenominator), 1001);
        QCOMPARE(stream.getTimeFromGranulepos(qint64(30) << 32), qint64(1001));
    }
    {
        // The shortest header: one byte after the parse info holds the four
        // codes and the base format; the flags past the end read as 0.
        OggStream stream(100);
        QVERIFY(putBos(stream, diracHeader(Bits()) + QByteArray("\xF8", 1)));
        QCOMPARE(int(stream.streamInfo().width), 640);
        QCOMPARE(int(stream.streamInfo().height), 480);
        QCOMPARE(int(stream.streamInfo().fpsNumerator), 24000);
        QCOMPARE(int(stream.streamInfo().fpsDenominator), 1001);
    }
    {
        Bits bits = diracStart(8);
        bits.bit(0);
        bits.bit(0);
        bits.bit(0);
        bits.bit(1);
        bits.uint(10);
        OggStream stream(100);
        QVERIFY(putBos(stream, diracHeader(bits)));
        QCOMPARE(stream.streamInfo().granuleRate, 12.5);
    }
}

void HeadersTest::diracRefusesHostileHeaders()
{
    {
        log.clear();
        OggStream stream(100);
        QVERIFY(!putBos(stream, diracHeader(Bits()).left(13)));
        QVERIFY(log.contains("Corrupted Dirac header! Can't decode stream #100!"));
    }
    {
        log.clear();
        OggStream stream(100);
        QVERIFY(!putBos(stream, diracHeader(diracStart(17))));
        QVERIFY(log.contains("Invalid video format in Dirac header!"));
    }
    {
        // A code that never ends inside the packet.
        log.clear();
        QByteArray header = diracHeader(Bits());
        header.append(QByteArray(40, '\0'));
        OggStream stream(100);
        QVERIFY(!putBos(stream, header));
        QVERIFY(log.contains("Corrupted Dirac header! Can't decode stream #100!"));
    }
    {
        log.clear();
        Bits bits = diracStart(0);
        bits.bit(0);
        bits.bit(0);
        bits.bit(0);
        bits.bit(1);
        bits.uint(11);
        OggStream stream(100);
        QVERIFY(!putBos(stream, diracHeader(bits)));
        QVERIFY(log.contains("Invalid frame rate in Dirac header!"));
    }
    {
        log.clear();
        Bits bits = diracStart(0);
        bits.bit(0);
        bits.bit(0);
        bits.bit(0);
        bits.bit(1);
        bits.uint(0);
        bits.uint(25);
        bits.uint(0);
        OggStream stream(100);
        QVERIFY(!putBos(stream, diracHeader(bits)));
        QVERIFY(log.contains("Invalid header in stream #100: frame rate denominator of 0!"));
    }
    {
        // A custom size without a column: no picture the decoder could write.
        log.clear();
        Bits bits = diracStart(0);
        bits.bit(1);
        bits.uint(0);
        bits.uint(48);
        for (int flag = 0; flag < 3; ++flag)
            bits.bit(0);
        OggStream stream(100);
        QVERIFY(!putBos(stream, diracHeader(bits)));
        QVERIFY(log.contains("Invalid header in stream #100: frame size of 0x48!"));
    }
    {
        // The header ends in the middle of the custom size.
        Bits bits = diracStart(0);
        bits.bit(1);
        QByteArray header = diracHeader(bits);
        OggStream stream(100);
        QVERIFY(!putBos(stream, header));
    }
}

void HeadersTest::bitReader()
{
    const unsigned char oneOneZero[] = {0x60}; // 0 1 1 0 ...
    DiracBs two(oneOneZero, 1);
    QCOMPARE(two.uint(), 2u);
    QVERIFY(!two.failed());
    const unsigned char one[] = {0x80};
    DiracBs zero(one, 1);
    QCOMPARE(zero.uint(), 0u);
    const unsigned char zeroZeroOne[] = {0x20};
    DiracBs first(zeroZeroOne, 1);
    QCOMPARE(first.uint(), 1u);
    const unsigned char three[] = {0x08};
    DiracBs bits(three, 1);
    QCOMPARE(bits.uint(), 3u);
    // Reads past the end keep their high bits; plain bits past it read as 0.
    const unsigned char data[] = {0xAB};
    DiracBs partial(data, 1);
    QCOMPARE(partial.read(4), 0xA);
    QCOMPARE(partial.read(8), 0xB0);
    QCOMPARE(partial.read(1), 0);
    QVERIFY(!partial.failed());
    // A code cut by the end of the data marks the reader.
    const unsigned char cut[] = {0x00};
    DiracBs unfinished(cut, 1);
    QCOMPARE(unfinished.uint(), 0u);
    QVERIFY(unfinished.failed());
    // A code of more than 32 bits is refused.
    const unsigned char wide[] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF};
    DiracBs tooWide(wide, sizeof wide);
    QCOMPARE(tooWide.uint(), 0u);
    QVERIFY(tooWide.failed());
    DiracBs nothing(nullptr, 0);
    QCOMPARE(nothing.read(3), 0);
}

void HeadersTest::commentParsing()
{
    // Speex comment packets: vendor, count, entries; hostile lengths included.
    auto comments = [](const QList<QByteArray>& entries, quint32 count, quint32 vendorLength = 3) {
        QByteArray packet(4, '\0');
        le32(packet, 0, vendorLength);
        packet.append("abc");
        QByteArray field(4, '\0');
        le32(field, 0, count);
        packet.append(field);
        for (const QByteArray& entry : entries) {
            le32(field, 0, quint32(entry.size()));
            packet.append(field);
            packet.append(entry);
        }
        return packet;
    };
    auto parse = [](const QByteArray& commentPacket) {
        QSharedPointer<OggStream> stream(new OggStream(1));
        ogg_stream_state state;
        ogg_stream_init(&state, 1);
        const QByteArray header = speexHeader(1, 0);
        ogg_packet packet;
        packet.packet = reinterpret_cast<unsigned char*>(const_cast<char*>(header.constData()));
        packet.bytes = header.size();
        packet.b_o_s = 1;
        packet.e_o_s = 0;
        packet.granulepos = 0;
        packet.packetno = 0;
        ogg_stream_packetin(&state, &packet);
        ogg_page page;
        ogg_stream_flush(&state, &page);
        stream->putPageBOS(&page);
        packet.packet = reinterpret_cast<unsigned char*>(const_cast<char*>(commentPacket.constData()));
        packet.bytes = commentPacket.size();
        packet.b_o_s = 0;
        packet.packetno = 1;
        ogg_stream_packetin(&state, &packet);
        while (ogg_stream_flush(&state, &page))
            stream->putPage(&page);
        ogg_stream_clear(&state);
        return stream;
    };
    const QByteArray longValue(300, 'x');
    auto stream = parse(comments({"A=1", "LONG=" + longValue, "A=2", "NOEQUALS", "B=" + QString("żółć").toUtf8()}, 5));
    QCOMPARE(stream->metadata.value("A").toString(), QString("2"));
    QCOMPARE(stream->metadata.value("LONG").toString(), QString(longValue.left(250)));
    QCOMPARE(stream->metadata.value("B").toString(), QString("żółć"));
    QCOMPARE(stream->metadata.size(), 3);
    QCOMPARE(stream->streamInfo().headersMissing, 0);

    log.clear();
    stream = parse(comments({"A=1", "B=2"}, 1000));
    QCOMPARE(stream->metadata.size(), 2);
    QVERIFY(log.contains("Packet containing meta data is corrupted!"));
    log.clear();
    stream = parse(comments({"A=1"}, 1, 0xFFFFFFF0u));
    QCOMPARE(stream->metadata.size(), 0);
    QVERIFY(log.contains("Packet containing meta data is corrupted!"));
    QByteArray lying = comments({"A=1"}, 1);
    le32(lying, 11, 0xFFFFFFFFu);
    log.clear();
    stream = parse(lying);
    QCOMPARE(stream->metadata.size(), 0);
    QVERIFY(log.contains("Packet containing meta data is corrupted!"));
    log.clear();
    stream = parse(QByteArray(7, '\0'));
    QVERIFY(log.contains("No metadata found."));
}

void HeadersTest::factory()
{
    log.clear();
    QVERIFY(!Decoder::createDecoder(Codec::Enum(0)));
    QVERIFY(!Decoder::createDecoder(Codec::Enum(6)));
    QVERIFY(log.contains("Unsupported codec requested!"));
    for (Codec::Enum codec : {Codec::Opus, Codec::Speex, Codec::Vorbis}) {
        Decoder* decoder = Decoder::createDecoder(codec);
        QVERIFY(decoder);
        // Opening without headers fails cleanly, and closing again is safe.
        QVERIFY(!decoder->open(nullptr));
        Decoder::Headers empty;
        QVERIFY(!decoder->open(&empty));
        decoder->close();
        delete decoder;
    }
    QVERIFY(log.contains("Can't initialize Opus decoder, since the provided header list is NULL!"));
    QVERIFY(log.contains("Header list is empty! Can't initialize decoder!"));
    // A stream whose decoder cannot be made is refused with its own line.
    OggStream stream(1);
    QVERIFY(!stream.openDecoder());
    QVERIFY(log.contains("Can't open decoder for stream #1, since it's BOS page has not been read yet."));
    QVERIFY(putBos(stream, speexHeader(1, 0)));
    QVERIFY(!stream.openDecoder());
    QVERIFY(log.contains("Can't open decoder for stream #1, since it's header packets have not been read yet."));
}

namespace {

Decoder::Headers headerList(const QList<QByteArray>& packets)
{
    Decoder::Headers headers;
    for (const QByteArray& bytes : packets) {
        ogg_packet raw{};
        raw.packet = reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.constData()));
        raw.bytes = bytes.size();
        headers.append(QSharedPointer<OggPacket>(new OggPacket(raw)));
    }
    return headers;
}

} // namespace

void HeadersTest::decodersRefuseHostileHeaders()
{
    struct Case {
        Codec::Enum codec;
        QList<QByteArray> headers;
        const char* line;
    };
    QByteArray mode3 = speexHeader(1, 0);
    le32(mode3, 40, 3);
    QByteArray newer = speexHeader(1, 0);
    le32(newer, 28, 2);
    QByteArray bitstream = speexHeader(1, 0);
    le32(bitstream, 44, 5);
    QByteArray manyFrames = speexHeader(1, 0);
    le32(manyFrames, 64, 100000);
    QByteArray family255 = opusHeader(3, 24);
    family255[18] = char(255);
    family255[19] = 2;
    QByteArray coupled = opusHeader(3, 24);
    coupled[18] = char(255);
    coupled[19] = 3;
    coupled[20] = 1;
    QByteArray family1Short = opusHeader(2, 19);
    family1Short[18] = 1;
    const Case cases[] = {
        {Codec::Speex, {speexHeader(1, 0, 79)}, "Header packet corrupted!"},
        {Codec::Speex, {speexHeader(14, 0)}, "Unsupported channel count!"},
        {Codec::Speex, {speexHeader(0, 0)}, "Unsupported channel count!"},
        {Codec::Speex, {mode3}, "Unsupported mode!"},
        {Codec::Speex, {newer}, "This Speex stream was created using newer encoder than supported one."},
        {Codec::Speex, {bitstream}, "This Speex stream was created using newer encoder than supported one."},
        {Codec::Speex, {manyFrames}, "Header packet corrupted!"},
        {Codec::Opus, {family255}, "Encoded stream reported less channels than expected!"},
        {Codec::Opus, {coupled}, ""},
        {Codec::Opus, {family1Short}, "Invalid Opus header! Too short for channel mapping!"},
        {Codec::Opus, {QByteArray("OpusHead")}, "Invalid Opus header!"},
        {Codec::Vorbis,
         {QByteArray("\x01vorbis", 7), QByteArray()},
         "Header contain only 2 packets instead of the required 3!"},
        {Codec::Vorbis,
         {QByteArray("\x01vorbis", 7), QByteArray("x"), QByteArray("y")},
         "Failed to decode header packet!"},
    };
    for (const Case& item : cases) {
        log.clear();
        QScopedPointer<Decoder> decoder(Decoder::createDecoder(item.codec));
        Decoder::Headers headers = headerList(item.headers);
        QVERIFY2(!decoder->open(&headers), item.line);
        QVERIFY2(log.contains(item.line), item.line);
        decoder->close();
        decoder->close();
    }
}

void HeadersTest::decodersSurviveHostilePackets()
{
    // Real headers, then packets of random bytes and lengths: no crash, no
    // read outside a packet (run under the sanitizers), blocks only of the
    // announced size.
    QTemporaryDir folder;
    const QStringList specs{"opus:channels=13",        "opus",
                            "vorbis:channels=2",       "speex:channels=13",
                            "speex:mode=narrow,fpp=3", "speex:layout=serial1"};
    QRandomGenerator random(1234);
    for (const QString& spec : specs) {
        QString error;
        const QString path = Recording::make(folder.path(), "hostile.ogg", {"--stream", spec + ",duration=0.2"},
                                             &error);
        QVERIFY2(!path.isEmpty(), qPrintable(error));
        Recording::Feeder feeder;
        feeder.feedFile(path, false);
        OggStream* stream = feeder.stream(1);
        QVERIFY(stream);
        Decoder::Headers headers = stream->headerPackets();
        QScopedPointer<Decoder> decoder(Decoder::createDecoder(stream->streamInfo().codec));
        QVERIFY2(decoder->open(&headers), qPrintable(spec));
        for (int i = 0; i < 300; ++i) {
            QByteArray bytes(int(random.bounded(i % 10 == 0 ? 4000 : 120)), '\0');
            for (char& byte : bytes)
                byte = char(random.bounded(256));
            if (i % 7 == 0 && bytes.size() >= 4) {
                // A multichannel record length that lies.
                le32(bytes, 0, random.generate());
            }
            ogg_packet raw{};
            raw.packet = reinterpret_cast<unsigned char*>(bytes.data());
            raw.bytes = bytes.size();
            raw.granulepos = i % 5 == 0 ? qint64(random.generate64() >> 1) : -1;
            raw.packetno = i + 3;
            const QSharedPointer<OggPacket> packet(new OggPacket(raw));
            for (int call = 0; call < 8; ++call) {
                Sample* sample = nullptr;
                const bool finished = decoder->decode(packet, sample);
                if (sample) {
                    QScopedPointer<Sample> owned(sample);
                    QCOMPARE(sample->type, int(Sample::Audio));
                    const AudioSample* audio = static_cast<const AudioSample*>(sample);
                    QVERIFY(audio->frames > 0 && audio->channels == int(stream->streamInfo().channels));
                }
                if (finished)
                    break;
            }
            if (i % 50 == 0)
                QVERIFY(decoder->seeked(qint64(i) * 1000000));
        }
        decoder->close();
    }
}

void HeadersTest::hostileInputs_data()
{
    // Inputs of the fuzz corpus that once crashed, exhausted memory, overflowed or hung.
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("refusal"); // the header's refusal; empty: it plays
    const QString rate("Invalid header in stream #1: %1 of 2000000000!");
    QTest::newRow("Dirac sequence header at the end of its packet") << "decoder/regression-dirac-padding"
                                                                    << "";
    QTest::newRow("Theora frame of 262144x16384") << "decoder/regression-theora-frame-size"
                                                  << "Invalid header in stream #100: frame size of 262144x16384!";
    QTest::newRow("Speex at 2 GHz") << "decoder/regression-speex13-rate" << rate.arg("sampling rate");
    QTest::newRow("Vorbis at 2 GHz") << "decoder/regression-vorbis-rate" << rate.arg("sampling rate");
    QTest::newRow("Opus from 2 GHz") << "decoder/regression-opus-rate" << rate.arg("input sampling rate");
    QTest::newRow("Theora pictures after the largest granule position") << "decoder/regression-theora-time"
                                                                        << "";
    QTest::newRow("Opus seek to a damaged granule position") << "decoder/regression-opus-seek-time"
                                                             << "";
    QTest::newRow("zeros after the last page") << "reader/regression-zero-tail"
                                               << "";
    QTest::newRow("a later link that reuses the serial number with another codec")
        << "reader/regression-chain-reused-serial"
        << "";
    // Theora pictures down to one pixel play, their chroma rounded up; an empty one is refused.
    for (const char* size : {"1x1", "1x2", "2x1", "3x3"})
        QTest::newRow(qPrintable(QStringLiteral("Theora picture of %1").arg(size)))
            << QStringLiteral("decoder/regression-theora-%1").arg(size) << "";
    QTest::newRow("Theora picture 0 rows high") << "decoder/regression-theora-picture-height-0"
                                                << "Invalid header in stream #100: picture size of 64x0!";
    // Dirac's 4:2:0 pictures have even sides: an odd one is refused at the header.
    QTest::newRow("Dirac picture of 33x17") << "decoder/regression-dirac-33x17"
                                            << "Invalid header in stream #100: frame size of 33x17!";
}

void HeadersTest::hostileInputs()
{
    QFETCH(QString, input);
    QFETCH(QString, refusal);
    QFile file(HARBEND_SOURCE_DIR "/tests/fuzz/corpus/" + input);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    const QByteArray bytes = file.readAll();

    if (input.startsWith("reader/")) {
        // Opening reads a tail that no page can be placed in once, and ends
        // at the last page, as without the tail, whatever its length.
        const QByteArray recording = bytes.left(int(lastPageEnd(bytes)));
        const qint64 plainEnd = openRecording(recording).first;
        QVERIFY(plainEnd > 0);
        for (int kilobytes = 1024; kilobytes <= 4096; kilobytes += 1000) {
            const QByteArray zeros = recording + QByteArray(kilobytes << 10, '\0');
            const QPair<qint64, qint64> tailed = openRecording(zeros);
            const QString figures = QString("read %1 of %2 bytes").arg(tailed.second).arg(zeros.size());
            QCOMPARE(tailed.first, plainEnd);
            // The pages before the tail are looked at once more for a later link.
            QVERIFY2(tailed.second <= zeros.size() + recording.size() + zeros.size() / 16, qPrintable(figures));
        }
        return;
    }

    log.clear();
    PacketStream stream(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
    stream.makePacket = guardedPacket;
    QVector<qint64> times;
    int headerCount = 0;
    bool audioBeforeZero = false;
    bool video = false;
    QStringList wrongFrames;
    const bool decoded = stream.decode([&](const Sample& sample, const StreamInfo& info) {
        headerCount = int(info.headerCount);
        video = info.mediaType == MediaType::Video;
        if (sample.type == Sample::Video) {
            times.append(sample.time);
            // The surface is started with the stream's format: every picture has it, and maps.
            QVideoFrame frame = static_cast<const VideoSample&>(sample).frame;
            const QVideoSurfaceFormat format = OggStream::videoFormatOf(info);
            if (frame.size() != format.frameSize() || frame.pixelFormat() != format.pixelFormat() ||
                !frame.map(QAbstractVideoBuffer::ReadOnly))
                wrongFrames << QStringLiteral("%1x%2").arg(frame.width()).arg(frame.height());
            frame.unmap();
        } else
            audioBeforeZero = audioBeforeZero || sample.time < 0;
    });
    if (!refusal.isEmpty()) {
        QVERIFY(!decoded);
        QVERIFY2(log.contains(refusal), qPrintable(refusal));
        return;
    }
    QVERIFY(decoded);
    QVERIFY(!audioBeforeZero);
    QVERIFY2(wrongFrames.isEmpty(), qPrintable(wrongFrames.join(' ')));
    if (!video)
        return;
    // Every picture is shown (an empty packet repeats the one before), none
    // before 0 nor before the one ahead of it.
    const int pictures = int(std::count_if(stream.records.begin() + headerCount, stream.records.end(),
                                           [](const PacketStream::Record& record) { return !record.bytes.isEmpty(); }));
    QCOMPARE(times.size(), pictures);
    for (int i = 0; i < times.size(); ++i)
        QVERIFY2(times[i] >= (i ? times[i - 1] : 0), qPrintable(QString::number(times[i])));
}

QTEST_GUILESS_MAIN(HeadersTest)
#include "tst_headers.moc"
