// The Theora and Dirac decoders on generated recordings: every picture, its
// number read back from the picture, its time, ffmpeg's decoders on the same
// bytes, seeking, the end of the stream and hostile input.

#include "LogCapture.h"
#include "VideoStreams.h"

#include "Core/Decoder/Codecs/DecoderVideoDirac.h"
#include "Core/Decoder/Codecs/DecoderVideoTheora.h"
#include "Core/Output/VideoFrameFormat.h"
#include "Core/Output/VideoPlaneLayout.h"
#include "Core/Output/VideoSurfaceSoftware.h"
#include "Core/Output/VideoWidgetSoftware.h"
#include "tools/make-recording/PictureDrawer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

using namespace Harbend;
using namespace VideoStreams;

namespace {

const qint64 kFrame25 = 40000000;

QSharedPointer<OggPacket> withGranule(const QSharedPointer<OggPacket>& source, qint64 granule)
{
    return packetOf(QByteArray(reinterpret_cast<const char*>(source->packet), int(source->bytes)), granule,
                    source->packetno);
}

Packets withEndMarker(Packets packets)
{
    packets.append(OggPacket::createEndOfStreamMarker());
    return packets;
}

double psnr(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size() || a.isEmpty())
        return 0.0;
    double sum = 0.0;
    for (int i = 0; i < a.size(); ++i) {
        const double d = double(uchar(a[i])) - double(uchar(b[i]));
        sum += d * d;
    }
    const double mse = sum / a.size();
    return mse == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// The generator's own picture, planes packed, as the encoder was given it.
QByteArray sourcePicture(long long number, int width, int height)
{
    std::vector<unsigned char> y, u, v;
    PictureDrawer(width, height).draw(number, y, u, v, width, height);
    QByteArray bytes(reinterpret_cast<const char*>(y.data()), int(y.size()));
    bytes.append(reinterpret_cast<const char*>(u.data()), int(u.size()));
    bytes.append(reinterpret_cast<const char*>(v.data()), int(v.size()));
    return bytes;
}

} // namespace

class VideoDecodersTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void factoryMakesTheVideoDecoders();
    void theoraPicturesMatchFfmpeg();
    void theoraTimes();
    void theoraReusesBlocksOfPicturesLetGo();
    void theoraSeekShowsNothingBeforeTheTarget();
    void theoraHostilePackets();
    void theora422IsPlanarAndRefused();
    void diracPicturesAgainstSourceAndFfmpeg();
    void diracSeekAndDrain();
    void diracSizeChangesAndUncopyablePictures();
    void diracRefusesOtherChroma();

private:
    QTemporaryDir dir;
};

void VideoDecodersTest::initTestCase() { QVERIFY(dir.isValid()); }

void VideoDecodersTest::factoryMakesTheVideoDecoders()
{
    LogCapture log;
    std::unique_ptr<Decoder> theora(Decoder::createDecoder(Codec::Theora));
    std::unique_ptr<Decoder> dirac(Decoder::createDecoder(Codec::Dirac));
    QVERIFY(dynamic_cast<DecoderVideoTheora*>(theora.get()));
    QVERIFY(dynamic_cast<DecoderVideoDirac*>(dirac.get()));
    // Without headers both refuse, and closing twice is safe.
    QVERIFY(!theora->open(nullptr));
    QVERIFY(!dirac->open(nullptr));
    Decoder::Headers empty;
    QVERIFY(!theora->open(&empty));
    QVERIFY(!dirac->open(&empty));
    theora->close();
    theora->close();
    dirac->close();
    QVERIFY(log.entries().contains("ERROR DecoderVideoTheora: Failed to decode headers!"));
    QVERIFY(
        log.entries().contains("ERROR DecoderVideoDirac: Unable to open Dirac decoder, provided headerlist is null!"));
}

// A picture region that is not a whole number of macroblocks (330x250 in 336x256):
// the region is what comes out, without the padding.
void VideoDecodersTest::theoraPicturesMatchFfmpeg()
{
    Recorded recording;
    QVERIFY(record(dir.path(), "theora.ogg", "theora:width=330,height=250,duration=2,keyint=16", 3, recording));
    const QString path = recording.path;
    Packets& headers = recording.headers;
    const Packets& data = recording.data;
    QCOMPARE(data.size(), 50);

    LogCapture log;
    DecoderVideoTheora decoder;
    QVERIFY(decoder.open(&headers));
    QVERIFY(log.entries().contains("SUCCESS DecoderVideoTheora: Successfully initialized Theora decoder."));
    QCOMPARE(decoder.pictureDuration(), kFrame25);
    const auto samples = decodeAll(decoder, withEndMarker(data));
    QCOMPARE(samples.size(), 50);

    const QByteArray reference = ffmpeg({"-i", path, "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"});
    const int pictureBytes = 330 * 250 + 2 * 165 * 125;
    QCOMPARE(reference.size(), 50 * pictureBytes);
    for (int i = 0; i < samples.size(); ++i) {
        const QVideoFrame& frame = samples[i]->frame;
        QCOMPARE(samples[i]->type, int(Sample::Video));
        QCOMPARE(frame.size(), QSize(330, 250));
        QCOMPARE(frame.pixelFormat(), QVideoFrame::Format_YUV420P);
        QCOMPARE(samples[i]->duration, kFrame25);
        QCOMPARE(pictureNumber(frame, recording), qint64(i));
        QVERIFY2(pictureRegion(frame, 330, 250) == reference.mid(i * pictureBytes, pictureBytes),
                 qPrintable(QStringLiteral("picture %1 differs from ffmpeg's").arg(i)));
    }
    decoder.close();
    QVERIFY(log.entries().contains("SUCCESS DecoderVideoTheora: Closed Theora decoder."));

    // A region away from the frame's corner (2 across, and 4 up from the bottom, so 2 down
    // from the top): cut where ffmpeg cuts it.
    Recorded moved;
    QVERIFY(
        record(dir.path(), "theora-offset.ogg", "theora:width=330,height=250,duration=0.2,patch=20:0204", 3, moved));
    DecoderVideoTheora movedDecoder;
    QVERIFY(movedDecoder.open(&moved.headers));
    const auto movedSamples = decodeAll(movedDecoder, withEndMarker(moved.data));
    // ("unaligned": ffmpeg would otherwise keep the left offset for its own memory alignment.)
    const QByteArray movedReference = ffmpeg(
        {"-flags", "unaligned", "-i", moved.path, "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"});
    QCOMPARE(movedReference.size(), movedSamples.size() * pictureBytes);
    for (int i = 0; i < movedSamples.size(); ++i) {
        QCOMPARE(movedSamples[i]->frame.size(), QSize(330, 250));
        QVERIFY2(pictureRegion(movedSamples[i]->frame, 330, 250) == movedReference.mid(i * pictureBytes, pictureBytes),
                 qPrintable(QStringLiteral("moved picture %1 differs from ffmpeg's").arg(i)));
    }
}

// Picture k carries the time of its granule less one frame (k - 1 frames, 0
// for the first); packets without a granule position advance by one frame.
void VideoDecodersTest::theoraTimes()
{
    Recorded ntsc;
    QVERIFY(record(dir.path(), "theora-ntsc.ogg",
                   "theora:width=64,height=48,duration=1,keyint=64,fps=30000/1001,pages=1", 3, ntsc));
    {
        DecoderVideoTheora decoder;
        QVERIFY(decoder.open(&ntsc.headers));
        QCOMPARE(decoder.pictureDuration(), qint64(33366666));
        const auto samples = decodeAll(decoder, ntsc.data);
        QCOMPARE(samples.size(), ntsc.data.size());
        for (int k = 0; k < samples.size(); ++k)
            QCOMPARE(samples[k]->time, qMax(0, k - 1) * qint64(33366666));
    }

    Recorded at25;
    QVERIFY(record(dir.path(), "theora-shift6.ogg", "theora:width=64,height=48,duration=1,keyint=64,pages=1", 3, at25));
    const Packets& data = at25.data;
    DecoderVideoTheora decoder;
    QVERIFY(decoder.open(&at25.headers));
    // Shift 6, version 3.2.1: (10 << 6) | 2 is picture 11, stamped 10 frames.
    auto samples = decodeAll(decoder, {withGranule(data[0], (10 << 6) | 2)});
    QCOMPARE(samples.size(), 1);
    QCOMPARE(samples[0]->time, 10 * kFrame25);
    samples = decodeAll(decoder, {withGranule(data[1], 1 << 6)});
    QCOMPARE(samples[0]->time, qint64(0));
    // A run without granule positions: one frame per packet from the last one
    // that had a position ((4 << 6) | 1 is picture 4, stamped 3 frames).
    samples = decodeAll(decoder, {withGranule(data[2], (4 << 6) | 1), withGranule(data[3], -1),
                                  withGranule(data[4], -1), withGranule(data[5], -1)});
    QCOMPARE(samples.size(), 4);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(samples[i]->time, (3 + i) * kFrame25);
}

namespace {
const uchar* blockOf(const QSharedPointer<VideoSample>& sample)
{
    QVideoFrame frame(sample->frame);
    if (!frame.map(QAbstractVideoBuffer::ReadOnly))
        return nullptr;
    const uchar* bits = frame.bits();
    frame.unmap();
    return bits;
}
} // namespace

// A picture's block returns to the decoder once every frame over it is let
// go, and only then; the picture decoded into it is whole.
void VideoDecodersTest::theoraReusesBlocksOfPicturesLetGo()
{
    Recorded recording;
    QVERIFY(record(dir.path(), "theora-pool.ogg", "theora:width=64,height=48,duration=1,keyint=8", 3, recording));
    DecoderVideoTheora decoder;
    QVERIFY(decoder.open(&recording.headers));
    auto held = decodeAll(decoder, {recording.data[0]});
    QCOMPARE(held.size(), 1);
    const uchar* first = blockOf(held[0]);
    QVERIFY(first);
    const auto second = decodeAll(decoder, {recording.data[1]});
    QCOMPARE(second.size(), 1);
    QVERIFY(blockOf(second[0]) != first);

    QVideoFrame onSurface(held[0]->frame);
    held.clear();
    // Still shown: the block stays with its frame.
    QCOMPARE(decoder.bufferPool().kept(), 0);
    auto third = decodeAll(decoder, {recording.data[2]});
    QVERIFY(blockOf(third[0]) != first);
    third.clear();
    QCOMPARE(decoder.bufferPool().kept(), 1);
    // The surface lets go: the next picture is decoded into that block.
    onSurface = QVideoFrame();
    QCOMPARE(decoder.bufferPool().kept(), 2);
    const auto fourth = decodeAll(decoder, {recording.data[3]});
    QCOMPARE(fourth.size(), 1);
    QCOMPARE(blockOf(fourth[0]), first);
    QCOMPARE(decoder.bufferPool().kept(), 1);
    QCOMPARE(pictureNumber(fourth[0]->frame, recording), 3LL);
}

void VideoDecodersTest::theoraSeekShowsNothingBeforeTheTarget()
{
    // Four packets a page: only the last carries a granule position, and the
    // key frame (picture 64) opens its page.
    Recorded recording;
    QVERIFY(record(dir.path(), "theora-seek.ogg", "theora:width=160,height=120,duration=4,keyint=32,pages=4", 3,
                   recording));
    const Packets& data = recording.data;
    QCOMPARE(data.size(), 100);
    DecoderVideoTheora decoder;
    QVERIFY(decoder.open(&recording.headers));
    decodeAll(decoder, data.mid(0, 20));

    // Decoding restarts at the page of the key frame before the target
    // (picture 64): the pictures from 64 on carry no time until picture 67
    // brings its granule position.
    const int target = 70;
    QVERIFY(decoder.seeked(target * kFrame25));
    auto samples = decodeAll(decoder, withEndMarker(data.mid(64)));
    QVERIFY(!samples.isEmpty());
    for (const auto& sample : samples) {
        const long long number = pictureNumber(sample->frame, recording);
        QVERIFY2(number >= target,
                 qPrintable(QStringLiteral("picture %1 shown after a seek to %2").arg(number).arg(target)));
        QVERIFY(sample->time >= target * kFrame25);
        QCOMPARE(sample->time, (number - 1) * kFrame25);
    }
    QCOMPARE(pictureNumber(samples.last()->frame, recording), 99LL);
    // Nothing is lost once the time is known again: the pictures run on without gaps.
    for (int i = 1; i < samples.size(); ++i)
        QCOMPARE(pictureNumber(samples[i]->frame, recording), pictureNumber(samples[i - 1]->frame, recording) + 1);

    // Inter frames before the key frame are skipped unread.
    QVERIFY(decoder.seeked(target * kFrame25));
    samples = decodeAll(decoder, data.mid(60, 20));
    QVERIFY(!samples.isEmpty());
    QCOMPARE(pictureNumber(samples.first()->frame, recording), qint64(target + 1));
}

void VideoDecodersTest::theoraHostilePackets()
{
    Recorded recording;
    QVERIFY(record(dir.path(), "theora-small.ogg", "theora:width=64,height=48,duration=0.4,keyint=64,pages=1", 3,
                   recording));
    const Packets& data = recording.data;
    LogCapture log;
    DecoderVideoTheora decoder;
    QVERIFY(decoder.open(&recording.headers));
    Sample* sample = nullptr;
    // The end-of-stream marker: no picture, and its granule position is no time.
    QVERIFY(decoder.decode(OggPacket::createEndOfStreamMarker(), sample));
    QVERIFY(!sample);
    // Granule positions far beyond any stream saturate rather than overflow.
    auto samples = decodeAll(decoder, {withGranule(data[0], std::numeric_limits<qint64>::max() - 5)});
    QCOMPARE(samples.size(), 1);
    QVERIFY(samples[0]->time > 0);
    // Garbage is dropped with its line and decoding goes on.
    samples = decodeAll(decoder, {packetOf(QByteArray("\x81garbage", 8), -1, 5), data[1]});
    QCOMPARE(samples.size(), 1);
    QVERIFY(log.entries().contains("ERROR DecoderVideoTheora: Failed to parse packet!"));
    // A packet without payload is a repeated picture: nothing new to show.
    samples = decodeAll(decoder, {packetOf(QByteArray(), -1, 6)});
    QVERIFY(samples.isEmpty());
    // Headers that are not Theora are refused.
    DecoderVideoTheora other;
    Packets wrong{packetOf(QByteArray("\x80theorX", 7), 0, 0)};
    QVERIFY(!other.open(&wrong));
}

// 4:2:2 pictures are planar; no surface takes them.
void VideoDecodersTest::theora422IsPlanarAndRefused()
{
    const QString path = dir.filePath("theora422.ogg");
    ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=25", "-t", "0.2", "-pix_fmt", "yuv422p", "-c:v", "libtheora",
            "-y", path});
    // ffmpeg picks its own serial number: read the first stream it wrote.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray head = file.read(27);
    const int serial = int(uchar(head[14]) | (uchar(head[15]) << 8) | (uchar(head[16]) << 16) |
                           (uchar(head[17]) << 24));
    Packets headers, data;
    QVERIFY(readPackets(path, serial, 3, headers, data));
    DecoderVideoTheora decoder;
    QVERIFY(decoder.open(&headers));
    const auto samples = decodeAll(decoder, data);
    QVERIFY(!samples.isEmpty());
    const QVideoFrame frame = samples[0]->frame;
    QCOMPARE(frame.pixelFormat(), QVideoFrame::Format_YUV422P);
    QCOMPARE(frame.size(), QSize(64, 48));
    QVideoFrame mapped(frame);
    QVERIFY(mapped.map(QAbstractVideoBuffer::ReadOnly));
    QCOMPARE(mapped.mappedBytes(), 64 * 48 + 2 * 48 * 32);
    mapped.unmap();

    VideoWidgetSoftware widget(nullptr);
    QVERIFY(!widget.surface->start(QVideoSurfaceFormat(QSize(64, 48), QVideoFrame::Format_YUV422P)));
    QVERIFY(widget.surface->start(VideoFrameFormat::create(64, 48, 25, 1)));
    QVERIFY(!widget.surface->present(frame));
    QCOMPARE(widget.surface->error(), QAbstractVideoSurface::IncorrectFormatError);
}

void VideoDecodersTest::diracPicturesAgainstSourceAndFfmpeg()
{
    Recorded recording;
    QVERIFY(record(dir.path(), "dirac.ogg", "dirac:width=320,height=240,duration=1", 1, recording));
    const QString path = recording.path;
    const Packets& data = recording.data;
    QCOMPARE(data.size(), 25);

    LogCapture log;
    DecoderVideoDirac decoder;
    QVERIFY(decoder.open(&recording.headers));
    const auto samples = decodeAll(decoder, withEndMarker(data));
    QCOMPARE(samples.size(), 25);
    QVERIFY(log.entries().contains("SUCCESS DecoderVideoDirac: Successfully initialized Dirac decoder."));

    // ffmpeg's own Ogg reading and Dirac decoder on the same file, every picture once.
    const QByteArray reference = ffmpeg(
        {"-i", path, "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"});
    const int pictureBytes = 320 * 240 * 3 / 2;
    QCOMPARE(reference.size(), 25 * pictureBytes);

    double worst = 99.0;
    for (int i = 0; i < samples.size(); ++i) {
        const QVideoFrame& frame = samples[i]->frame;
        QCOMPARE(frame.size(), QSize(320, 240));
        QCOMPARE(frame.pixelFormat(), QVideoFrame::Format_YUV420P);
        QCOMPARE(pictureNumber(frame, recording), qint64(i));
        QCOMPARE(samples[i]->time, i * kFrame25);
        QCOMPARE(samples[i]->duration, kFrame25);
        const QByteArray picture = pictureRegion(frame, 320, 240);
        QVERIFY2(picture == reference.mid(i * pictureBytes, pictureBytes),
                 qPrintable(QStringLiteral("picture %1 differs from ffmpeg's").arg(i)));
        worst = qMin(worst, psnr(picture, sourcePicture(i, 320, 240)));
    }
    // The generator gives VC-2 two bits per pixel: its sharp-edged digits and
    // code cells come back at about 32 dB. Pictures read with a wrong plane
    // offset, stride or order land near 10 dB, so 25 dB parts the two.
    QVERIFY2(worst > 25.0, qPrintable(QStringLiteral("worst PSNR %1 dB").arg(worst)));
    qInfo("Dirac pictures against their sources: worst PSNR %.1f dB", worst);
}

void VideoDecodersTest::diracSeekAndDrain()
{
    Recorded recording;
    QVERIFY(record(dir.path(), "dirac-seek.ogg", "dirac:width=160,height=120,duration=2", 1, recording));
    const Packets& data = recording.data;
    QCOMPARE(data.size(), 50);
    DecoderVideoDirac decoder;
    QVERIFY(decoder.open(&recording.headers));

    // A picture is handed out while the next packet waits: each by a call that
    // answers false, before the call that takes the packet answers true.
    Sample* sample = nullptr;
    QVERIFY(decoder.decode(data[0], sample));
    QVERIFY(!sample);
    QVERIFY(!decoder.decode(data[1], sample));
    QVERIFY(sample);
    QCOMPARE(sample->time, qint64(0));
    delete sample;
    sample = nullptr;
    QVERIFY(decoder.decode(data[1], sample));
    QVERIFY(!sample);

    // Seek into the middle: times come from the pictures' own numbers.
    QVERIFY(decoder.seeked(30 * kFrame25));
    auto samples = decodeAll(decoder, data.mid(30, 10));
    // The end-of-stream marker drains what the library still holds.
    int drained = 0;
    const auto marker = OggPacket::createEndOfStreamMarker();
    for (int calls = 0; calls < 100; ++calls) {
        sample = nullptr;
        const bool finished = decoder.decode(marker, sample);
        if (sample) {
            samples.append(QSharedPointer<VideoSample>(static_cast<VideoSample*>(sample)));
            ++drained;
        }
        if (finished)
            break;
    }
    QVERIFY(drained >= 1);
    QCOMPARE(samples.size(), 10);
    for (int i = 0; i < samples.size(); ++i) {
        QCOMPARE(pictureNumber(samples[i]->frame, recording), qint64(30 + i));
        QCOMPARE(samples[i]->time, (30 + i) * kFrame25);
    }
    // After the end, new data starts again from the sequence header.
    samples = decodeAll(decoder, withEndMarker(data.mid(5, 3)));
    QCOMPARE(samples.size(), 3);
    QCOMPARE(pictureNumber(samples[0]->frame, recording), 5LL);
}

// The picture size follows every picture; a picture that cannot be copied
// costs that picture only, never the packet that comes after it.
void VideoDecodersTest::diracSizeChangesAndUncopyablePictures()
{
    const QByteArray small = ffmpeg({"-f", "lavfi", "-i", "testsrc=size=98x66:rate=25", "-frames:v", "3", "-pix_fmt",
                                     "yuv420p", "-c:v", "vc2", "-f", "dirac", "-"});
    const QByteArray large = ffmpeg({"-f", "lavfi", "-i", "testsrc=size=322x242:rate=25", "-frames:v", "3", "-pix_fmt",
                                     "yuv420p", "-c:v", "vc2", "-f", "dirac", "-"});
    // One 4:2:2 picture: it comes out of the library during the call that
    // brings the next 4:2:0 packet, which must not be lost with it.
    const QByteArray other = ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=25", "-frames:v", "1", "-pix_fmt",
                                     "yuv422p", "-c:v", "vc2", "-f", "dirac", "-"});
    QVERIFY(!small.isEmpty() && !large.isEmpty() && !other.isEmpty());
    QByteArray header;
    const Packets smallPackets = diracPackets(small, &header);
    const Packets largePackets = diracPackets(large, nullptr);
    const Packets otherPackets = diracPackets(other, nullptr);
    QCOMPARE(smallPackets.size(), 3);

    LogCapture log;
    DecoderVideoDirac decoder;
    Packets headers{packetOf(header, 0, 0)};
    QVERIFY(decoder.open(&headers));
    const auto samples = decodeAll(decoder, withEndMarker(smallPackets + largePackets + otherPackets + smallPackets));
    QVector<QSize> sizes;
    for (const auto& sample : samples) {
        sizes << sample->frame.size();
        QVideoFrame frame(sample->frame);
        QVERIFY(frame.map(QAbstractVideoBuffer::ReadOnly));
        QCOMPARE(frame.mappedBytes(), int(VideoPlaneLayout::yuv420p(uint(frame.width()), uint(frame.height())).total));
        frame.unmap();
    }
    // The 4:2:2 pictures cannot be copied into a 4:2:0 frame and are dropped;
    // the first picture after them still comes.
    QCOMPARE(sizes, QVector<QSize>({QSize(98, 66), QSize(98, 66), QSize(98, 66), QSize(322, 242), QSize(322, 242),
                                    QSize(322, 242), QSize(98, 66), QSize(98, 66), QSize(98, 66)}));
    QVERIFY(log.entries().contains("ERROR DecoderVideoDirac: Failed to write data to video output buffer!"));
}

void VideoDecodersTest::diracRefusesOtherChroma()
{
    const QByteArray stream = ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=25", "-frames:v", "1", "-pix_fmt",
                                      "yuv422p", "-c:v", "vc2", "-f", "dirac", "-"});
    QByteArray header;
    diracPackets(stream, &header);
    QVERIFY(!header.isEmpty());
    LogCapture log;
    DecoderVideoDirac decoder;
    Packets headers{packetOf(header, 0, 0)};
    QVERIFY(!decoder.open(&headers));
    QVERIFY(log.entries().contains("ERROR DecoderVideoDirac: Wrong chroma format!"));
    // A sequence header cut short is refused too.
    DecoderVideoDirac cut;
    Packets shortHeader{packetOf(header.left(15), 0, 0)};
    QVERIFY(!cut.open(&shortHeader));
    QVERIFY(log.entries().contains("ERROR DecoderVideoDirac: Error occured during parsing of the header!"));
}

QTEST_MAIN(VideoDecodersTest)
#include "tst_video_decoders.moc"
