#include "Recording.h"

#include "Core/Decoder/AudioSample.h"
#include "Core/Decoder/Codecs/DecoderAudioOpus.h"
#include "Core/Decoder/Codecs/DecoderAudioSpeex.h"
#include "Core/Decoder/OggStream.h"

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace Harbend;

namespace {

typedef QVector<QSharedPointer<Sample>> Samples;

// ffmpeg's decoding of a file as planar channels of floats.
QVector<QVector<float>> ffmpegDecode(const QString& path, const QString& decoder, int channels)
{
    QProcess process;
    QStringList arguments{"-v", "error"};
    if (!decoder.isEmpty())
        arguments << "-c:a" << decoder;
    arguments << "-i" << path << "-f"
              << "f32le"
              << "-";
    process.start("ffmpeg", arguments);
    process.waitForFinished(60000);
    const QByteArray bytes = process.readAllStandardOutput();
    const float* data = reinterpret_cast<const float*>(bytes.constData());
    const int frames = bytes.size() / int(sizeof(float)) / channels;
    QVector<QVector<float>> planes(channels);
    for (int c = 0; c < channels; ++c) {
        planes[c].resize(frames);
        for (int i = 0; i < frames; ++i)
            planes[c][i] = data[i * channels + c];
    }
    return planes;
}

// Signal-to-noise ratio in dB of ours against the reference, at the lag (ours
// ahead by up to maxLag samples) that fits best.
double alignedSnr(const QVector<float>& ours, const QVector<float>& reference, int maxLag, int* bestLag = nullptr)
{
    double best = -1000.0;
    for (int lag = 0; lag <= maxLag; ++lag) {
        const int count = qMin(ours.size() - lag, reference.size());
        if (count <= 0)
            break;
        double signal = 0.0, noise = 0.0;
        for (int i = 0; i < count; ++i) {
            const double difference = double(ours[i + lag]) - reference[i];
            signal += double(reference[i]) * reference[i];
            noise += difference * difference;
        }
        const double snr = noise > 0.0 ? 10.0 * std::log10(signal / noise) : 300.0;
        if (snr > best) {
            best = snr;
            if (bestLag)
                *bestLag = lag;
        }
    }
    return best;
}

} // namespace

// The audio decoders against an independent decoder (ffmpeg) and against the
// tones the generator put into each channel.
class AudioDecodersTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void matchesFfmpeg_data();
    void matchesFfmpeg();
    void everyChannelCarriesItsTone_data();
    void everyChannelCarriesItsTone();
    void damagedSpeexChannelIsSilencedAlone();
    void truncatedSpeexRecordsSkipThePacket();
    void speexBlockTimes();
    void opusOddHeaders();

private:
    bool decode(const QString& path, int serial, Samples& samples);
    QString make(const QString& name, const QStringList& arguments);
    QTemporaryDir folder;
    Recording::LogCapture log;
};

void AudioDecodersTest::initTestCase()
{
    QVERIFY(folder.isValid());
    QProcess probe;
    probe.start("ffmpeg", {"-version"});
    QVERIFY2(probe.waitForFinished(10000) && probe.exitCode() == 0, "ffmpeg is needed");
}

QString AudioDecodersTest::make(const QString& name, const QStringList& arguments)
{
    QString error;
    const QString path = Recording::make(folder.path(), name, arguments, &error);
    if (path.isEmpty())
        qWarning("make-recording failed: %s", qPrintable(error));
    return path;
}

bool AudioDecodersTest::decode(const QString& path, int serial, Samples& samples)
{
    Recording::Feeder feeder;
    if (!feeder.feedFile(path))
        return false;
    return feeder.collect(serial, samples);
}

void AudioDecodersTest::matchesFfmpeg_data()
{
    QTest::addColumn<QString>("spec");
    QTest::addColumn<QString>("reference"); // ffmpeg's decoder, empty for its default
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("maxLag");
    QTest::addColumn<double>("minimumSnr");
    // Vorbis: both are exact float implementations of the same inverse MDCT,
    // so only rounding differs (well over 90 dB measured).
    QTest::newRow("vorbis mono 44.1 kHz") << "vorbis:rate=44100"
                                          << "" << 1 << 0 << 80.0;
    QTest::newRow("vorbis stereo 8 kHz") << "vorbis:rate=8000,channels=2"
                                         << "" << 2 << 0 << 80.0;
    QTest::newRow("vorbis stereo 48 kHz") << "vorbis:rate=48000,channels=2"
                                          << "" << 2 << 0 << 80.0;
    // Opus, CELT only: ffmpeg's own decoder is an independent float
    // implementation of the same transform; ours does not drop the pre-skip,
    // so ours runs ahead by it. They agree to far above 40 dB.
    QTest::newRow("opus celt 20 ms") << "opus:application=lowdelay"
                                     << "opus" << 1 << 400 << 40.0;
    QTest::newRow("opus celt 120 ms") << "opus:application=lowdelay,frame-ms=120"
                                      << "opus" << 1 << 400 << 40.0;
    QTest::newRow("opus celt 13 channels") << "opus:application=lowdelay,channels=13,frame-ms=60"
                                           << "opus" << 13 << 400 << 40.0;
    // Opus with SILK: ffmpeg's own decoder resamples SILK's output with its
    // own filter (a fractional-sample delay, about 28 dB against libopus), so
    // the reference here is ffmpeg's libopus wrapper through ffmpeg's demuxer:
    // the same library, so the bound is rounding only.
    QTest::newRow("opus silk 20 ms") << "opus:application=voip"
                                     << "libopus" << 1 << 400 << 80.0;
    QTest::newRow("opus 13 channels") << "opus:channels=13"
                                      << "libopus" << 13 << 400 << 80.0;
    // Speex: ffmpeg's libspeex wrapper runs the same codec library with the
    // enhancer on, through its own demuxer and framing; the match is exact
    // but for float rounding.
    QTest::newRow("speex narrow") << "speex:mode=narrow"
                                  << "libspeex" << 1 << 0 << 80.0;
    QTest::newRow("speex wide 3 per packet") << "speex:mode=wide,fpp=3"
                                             << "libspeex" << 1 << 0 << 80.0;
    QTest::newRow("speex ultra") << "speex:mode=ultra"
                                 << "libspeex" << 1 << 0 << 80.0;
}

void AudioDecodersTest::matchesFfmpeg()
{
    QFETCH(QString, spec);
    QFETCH(QString, reference);
    QFETCH(int, channels);
    QFETCH(int, maxLag);
    QFETCH(double, minimumSnr);
    const QString path = make(QString("ffmpeg-%1.ogg").arg(QTest::currentDataTag()).replace(' ', '-'),
                              {"--stream", spec, "--duration", "1.5"});
    QVERIFY(!path.isEmpty());
    Samples samples;
    QVERIFY(decode(path, 1, samples));
    const QVector<QVector<float>> theirs = ffmpegDecode(path, reference, channels);
    for (int c = 0; c < channels; ++c) {
        const QVector<float> ours = Recording::channel(samples, c);
        QVERIFY(ours.size() > theirs[c].size() / 2);
        int lag = 0;
        const double snr = alignedSnr(ours, theirs[c], maxLag, &lag);
        if (c == 0 && qEnvironmentVariableIsSet("SNR_DEBUG")) {
            for (int at = 0; at + 4800 <= theirs[c].size(); at += 4800)
                qInfo("window %d: %.1f dB", at, alignedSnr(ours.mid(at + lag, 4800), theirs[c].mid(at, 4800), 0));
            qInfo("ours %d theirs %d", ours.size(), theirs[c].size());
        }
        QVERIFY2(snr >= minimumSnr,
                 qPrintable(QString("channel %1: %2 dB at lag %3").arg(c).arg(snr, 0, 'f', 1).arg(lag)));
        if (c == 0)
            qInfo("%s: %.1f dB at lag %d", QTest::currentDataTag(), snr, lag);
    }
}

void AudioDecodersTest::everyChannelCarriesItsTone_data()
{
    QTest::addColumn<QString>("spec");
    QTest::addColumn<int>("rate");
    QTest::newRow("speex 13-channel header") << "speex:channels=13,mode=wide" << 16000;
    QTest::newRow("speex recorder layout") << "speex:layout=serial1,mode=wide,fpp=2" << 16000;
    QTest::newRow("speex narrow 4 channels") << "speex:channels=4,mode=narrow,fpp=3" << 8000;
    QTest::newRow("opus 13 channels") << "opus:channels=13" << 48000;
    QTest::newRow("opus 13 channels at 16 kHz") << "opus:channels=13,input-rate=16000" << 16000;
}

void AudioDecodersTest::everyChannelCarriesItsTone()
{
    QFETCH(QString, spec);
    QFETCH(int, rate);
    const QString path = make(QString("tones-%1.ogg").arg(QTest::currentDataTag()).replace(' ', '-'),
                              {"--stream", spec + ",level=0.25", "--duration", "1"});
    QVERIFY(!path.isEmpty());
    const QJsonArray tones = Recording::streamEntry(Recording::manifest(path), 1).value("tones").toArray();
    Samples samples;
    QVERIFY(decode(path, 1, samples));
    QCOMPARE(static_cast<AudioSample*>(samples.first().data())->channels, tones.size());
    for (int c = 0; c < tones.size(); ++c) {
        // Skip the codecs' start-up; measure the steady tone.
        const QVector<float> signal = Recording::channel(samples, c).mid(rate / 5, rate / 2);
        const double own = Recording::toneLevel(signal, rate, tones[c].toObject().value("frequency").toDouble());
        const double level = tones[c].toObject().value("level").toDouble();
        QVERIFY2(own > level * 0.7 && own < level * 1.3, qPrintable(QString("channel %1: %2").arg(c).arg(own)));
        // The neighbours' tones are not in this channel.
        for (int other : {c - 1, c + 1}) {
            if (other < 0 || other >= tones.size())
                continue;
            const double leak = Recording::toneLevel(signal, rate,
                                                     tones[other].toObject().value("frequency").toDouble());
            QVERIFY2(leak < level * 0.1,
                     qPrintable(QString("channel %1 has %2 of channel %3").arg(c).arg(leak).arg(other)));
        }
    }
}

void AudioDecodersTest::damagedSpeexChannelIsSilencedAlone()
{
    const QString path = make("bad-channel.ogg", {"--stream", "speex:channels=13,bad-channel=4,duration=1"});
    QVERIFY(!path.isEmpty());
    log.clear();
    Samples samples;
    QVERIFY(decode(path, 1, samples));
    QVERIFY(log.contains("Failed to decode audio data for channel #4!"));
    const QJsonArray tones = Recording::streamEntry(Recording::manifest(path), 1).value("tones").toArray();
    QVERIFY(tones[4].toObject().value("damaged").toBool());
    for (int c = 0; c < 13; ++c) {
        const QVector<float> signal = Recording::channel(samples, c).mid(3200);
        double peak = 0.0;
        for (float x : signal)
            peak = qMax(peak, double(std::fabs(x)));
        if (c == 4)
            QCOMPARE(peak, 0.0);
        else
            QVERIFY2(peak > 0.2, qPrintable(QString("channel %1 peaks at %2").arg(c).arg(peak)));
    }
}

void AudioDecodersTest::truncatedSpeexRecordsSkipThePacket()
{
    const QString whole = make("whole.ogg", {"--stream", "speex:channels=3,mode=narrow,duration=1"});
    const QString cut = make("cut.ogg",
                             {"--stream", "speex:channels=3,mode=narrow,duration=1,truncated-record-every=2"});
    QVERIFY(!whole.isEmpty() && !cut.isEmpty());
    Samples wholeSamples, cutSamples;
    QVERIFY(decode(whole, 1, wholeSamples));
    log.clear();
    QVERIFY(decode(cut, 1, cutSamples));
    QVERIFY(log.contains("Invalid multichannel Speex packet!"));
    // Half the packets are skipped as a whole: half the blocks, all channels alike.
    QVERIFY(qAbs(cutSamples.size() * 2 - wholeSamples.size()) <= 2);
    const QVector<float> first = Recording::channel(cutSamples, 0);
    QCOMPARE(Recording::channel(cutSamples, 2).size(), first.size());
}

void AudioDecodersTest::speexBlockTimes()
{
    // The first data from 10 s: block times come from the granule positions
    // (here every packet has one: a page per packet).
    const QString path = make("speex-times.ogg", {"--stream", "speex:mode=wide,start=10,duration=1,pages=1"});
    QVERIFY(!path.isEmpty());
    Samples samples;
    QVERIFY(decode(path, 1, samples));
    QCOMPARE(samples.first()->time, qint64(10) * 1000000000);
    for (int i = 1; i < samples.size(); ++i)
        QCOMPARE(samples[i]->time, samples[i - 1]->time + 40000000);
}

void AudioDecodersTest::opusOddHeaders()
{
    // Input rates libopus does not decode at, and a header that says 0: both play at 48 kHz.
    for (const QString& rate : {QString("44100"), QString("0")}) {
        const QString path = make("opus-" + rate + ".ogg", {"--stream", "opus:duration=0.5,input-rate=" + rate});
        QVERIFY(!path.isEmpty());
        Samples samples;
        QVERIFY(decode(path, 1, samples));
        QVERIFY(samples.size() >= 24);
        QCOMPARE(static_cast<AudioSample*>(samples.first().data())->frames, 960);
        QCOMPARE(samples.first()->duration, qint64(20000000));
    }
    // Stereo streams with mapping family 1 (the header's table) and family 0
    // (no table in the header) decode through a real mapping table.
    const QByteArray family1("OpusHead\x01\x02\x38\x01\x80\xbb\x00\x00\x00\x00\x01\x01\x01\x00\x01", 23);
    const QByteArray family0("OpusHead\x01\x02\x38\x01\x80\xbb\x00\x00\x00\x00\x00", 19);
    for (QByteArray header : {family1, family0}) {
        Decoder::Headers headers;
        ogg_packet raw{};
        raw.packet = reinterpret_cast<unsigned char*>(header.data());
        raw.bytes = header.size();
        headers.append(QSharedPointer<OggPacket>(new OggPacket(raw)));
        DecoderAudioOpus decoder;
        QVERIFY(decoder.open(&headers));
        // A 120 ms stereo packet (code 3: 6 frames of 20 ms CELT, each lost).
        QByteArray packet("\xff\x06", 2);
        packet.append(QByteArray(6, '\0'));
        raw.packet = reinterpret_cast<unsigned char*>(packet.data());
        raw.bytes = packet.size();
        Sample* sample = nullptr;
        QVERIFY(decoder.decode(QSharedPointer<OggPacket>(new OggPacket(raw)), sample));
        QVERIFY(sample);
        QScopedPointer<Sample> owned(sample);
        QCOMPARE(static_cast<AudioSample*>(sample)->channels, 2);
        QCOMPARE(static_cast<AudioSample*>(sample)->frames, 5760);
    }
    // Seeking a decoder that never opened only sets the time.
    DecoderAudioOpus unopened;
    QVERIFY(unopened.seeked(5));
}

QTEST_GUILESS_MAIN(AudioDecodersTest)
#include "tst_audio_decoders.moc"
