#include "Core/Decoder/OggStream.h"
#include "PlaybackTestSupport.h"

#include "Core/Base/GainFromVolume.h"
#include "Core/Base/Memory.h"
#include "Core/Base/Processor.h"
#include "Core/Multimedia/AudioChannelControl.h"
#include "Core/Multimedia/AudioDeviceSynchronizer.h"
#include "Core/Multimedia/AudioOutputThread.h"
#include "Core/Multimedia/GuardedAudioOutput.h"
#include "tests/TestMain.h"

#include <QAudioDeviceInfo>
#include <QAudioOutput>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace Harbend;
using namespace PlaybackTest;

namespace {

const int kRate = 44100;
const unsigned kBufferSize = kRate / 1000 * 400;
const double kAmplitude = 0.04;

struct AlignedFloats {
    explicit AlignedFloats(unsigned count) : data(static_cast<float*>(Memory::allocate(count * 4))) {}
    ~AlignedFloats() { Memory::free(data); }
    float* data;
};

QVector<double> channelTones()
{
    QVector<double> tones;
    for (int k = 0; k < 13; ++k)
        tones.append(410.0 + 170.0 * k);
    return tones;
}

// The gain of a channel volume, from the curve as the recorders define it.
double curveGain(int volume)
{
    if (volume <= 0)
        return 0.0;
    const double v = std::min(volume, 100);
    return std::clamp(0.01 * std::exp(std::log(100.0) * v / 100.0) - 0.0001 * (100.0 - v), 0.0, 1.0);
}

// The mixed sound of planar channels: channel 0 (silent when off) at its
// gain, then each enabled channel t = x times its gain folded in as
// a + t - a t, limited to full scale.
QVector<qint16> expectedMix(const QVector<float>& planar, int frames, const QVector<int>& volumes,
                            const QVector<bool>& enabled)
{
    QVector<qint16> mixed(frames);
    for (int i = 0; i < frames; ++i) {
        double a = enabled[0] ? planar[i] * curveGain(volumes[0]) : 0.0;
        for (int k = 1; k < volumes.size(); ++k) {
            if (!enabled[k])
                continue;
            const double t = planar[k * frames + i] * curveGain(volumes[k]);
            a = std::clamp(a + t - a * t, -1.0, 1.0);
        }
        mixed[i] = qint16(std::lround(std::clamp(a * 32768.0, -32768.0, 32767.0)));
    }
    return mixed;
}

// One playback of generated tones through a real output and the audio thread.
class Playback {
public:
    Playback(AudioChannelControl* channels, QVector<double> tones, int frames, qint64 totalFrames = -1)
        : queue(80),
          output(new QAudioOutput(QAudioDeviceInfo::defaultOutputDevice(), Harbend::OggStream::pcmFormat(kRate))),
          thread(&session, 1, &output, &queue, channels, kBufferSize),
          source(&queue, kRate, std::move(tones), kAmplitude, frames, totalFrames)
    {
        output.setBufferSize(int(kBufferSize));
        thread.chooseKernels();
        queue.open();
        source.start();
    }
    ~Playback()
    {
        queue.close();
        source.stopFeeding();
        queue.clear();
        source.wait();
        thread.requestStop();
    }
    bool start() { return output.start() && thread.startPaused() && thread.requestResume(); }

    SessionStub session;
    SampleQueue queue;
    GuardedAudioOutput output;
    AudioOutputThread thread;
    ToneSource source;
};

} // namespace

class AudioOutputTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void mixDownOfChannels();
    void playsEveryChannelAtItsLevel_data();
    void playsEveryChannelAtItsLevel();
    void switchingVolumeAndMute();
    void vocoderKeepsThePitch_data();
    void vocoderKeepsThePitch();
    void endOfStreamReportsOnceAndLeavesTheOutput();
    void pauseAndStopWhileTheDeviceTakesNothing();

private:
    SinkRecorder recorder;
    unsigned detectedFlags = 0;
};

void AudioOutputTest::initTestCase()
{
    Processor::initialize();
    detectedFlags = Processor::ms_instance.flags;
    if (QAudioDeviceInfo::defaultOutputDevice().isNull())
        QSKIP("no audio output device");
    QVERIFY(recorder.start());
    QVERIFY(recorder.waitUntilRunning());
}

void AudioOutputTest::cleanup() { Processor::overrideFlags(detectedFlags); }

void AudioOutputTest::mixDownOfChannels()
{
    for (unsigned frames : {4u, 5u}) {
        // 14 channels: the 14th is never mixed. Channel k holds the value k / 100.
        const unsigned channels = 14;
        AlignedFloats data(channels * frames);
        float gains[13];
        bool enabled[13];
        for (unsigned k = 0; k < 13; ++k) {
            gains[k] = 1.0f;
            enabled[k] = false;
        }
        auto fillWith = [&](float channel0, float channel1) {
            for (unsigned k = 0; k < channels; ++k)
                for (unsigned i = 0; i < frames; ++i)
                    data.data[k * frames + i] = k == 0 ? channel0 : k == 1 ? channel1 : 0.9f;
        };
        for (int sse = 0; sse < 2; ++sse) {
            auto adjust = sse ? &AudioKernels::adjustVolumeSSE : &AudioKernels::adjustVolume;
            auto mix = sse ? &AudioKernels::mixChannelsSSE : &AudioKernels::mixChannels;
            // Channel 0 off, channel 1 on: channel 1 alone.
            enabled[1] = true;
            fillWith(0.7f, 0.25f);
            AudioOutputThread::mixDown(data.data, channels, frames, gains, enabled, adjust, mix);
            QCOMPARE(data.data[frames - 1], 0.25f);
            // Both at full scale mix to 1; both at 0.5 to 0.75; both at -0.5 to -1.
            enabled[0] = true;
            fillWith(1.0f, 1.0f);
            AudioOutputThread::mixDown(data.data, channels, frames, gains, enabled, adjust, mix);
            QCOMPARE(data.data[0], 1.0f);
            fillWith(0.5f, 0.5f);
            AudioOutputThread::mixDown(data.data, channels, frames, gains, enabled, adjust, mix);
            QCOMPARE(data.data[frames - 1], 0.75f);
            fillWith(-0.5f, -0.5f);
            AudioOutputThread::mixDown(data.data, channels, frames, gains, enabled, adjust, mix);
            QCOMPARE(data.data[0], -1.0f);
            // Gains apply per channel.
            gains[0] = 0.5f;
            gains[1] = 0.0f;
            fillWith(0.5f, 0.5f);
            AudioOutputThread::mixDown(data.data, channels, frames, gains, enabled, adjust, mix);
            QCOMPARE(data.data[0], 0.25f);
            gains[0] = gains[1] = 1.0f;
            enabled[0] = enabled[1] = false;
        }
        // Only channel 13 (the 14th) carries sound: nothing is heard.
        fillWith(0.0f, 0.0f);
        for (unsigned k = 0; k < 13; ++k)
            enabled[k] = k != 0;
        for (unsigned k = 2; k < 13; ++k)
            for (unsigned i = 0; i < frames; ++i)
                data.data[k * frames + i] = 0.0f;
        AudioOutputThread::mixDown(data.data, channels, frames, gains, enabled, &AudioKernels::adjustVolume,
                                   &AudioKernels::mixChannels);
        QCOMPARE(data.data[0], 0.0f);
    }
}

void AudioOutputTest::playsEveryChannelAtItsLevel_data()
{
    // Every channel at a volume of its own (100, 95, ... 40); each is heard at
    // its level in one row and switched off in the other.
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("off"); // channels k with k % 2 == off are switched off
    QTest::newRow("sse, odd channels off") << unsigned(Processor::SSE | Processor::SSE2) << 4096 << 1;
    QTest::newRow("plain, odd blocks, even channels off") << 0u << 4410 + 3 << 0;
}

void AudioOutputTest::playsEveryChannelAtItsLevel()
{
    QFETCH(unsigned, flags);
    QFETCH(int, frames);
    QFETCH(int, off);
    Processor::overrideFlags(flags & detectedFlags);
    AudioChannelControl channels(nullptr);
    QVector<int> volumes;
    QVector<bool> enabled;
    for (int k = 0; k < 13; ++k) {
        volumes.append(100 - 5 * k);
        enabled.append(k % 2 != off);
        channels.setChannelVolume(ui32(k), volumes[k]);
        channels.setChannelEnabled(ui32(k), enabled[k]);
    }
    const QVector<double> tones = channelTones();
    Playback playback(&channels, tones, frames);
    QVERIFY(playback.start());

    const int n = 8820;
    QVector<float> planar(13 * n);
    ToneSource::fill(planar.data(), n, 0, kRate, tones, kAmplitude);
    const QVector<qint16> reference = expectedMix(planar, n, volumes, enabled);

    recorder.take(kRate / 2); // past the start
    recorder.restart();
    const QVector<qint16> heard = recorder.take(n);
    QCOMPARE(heard.size(), n);
    for (int k = 0; k < 13; ++k) {
        // A switched-off channel leaves less than a few steps of 16 bits.
        const double want = toneLevel(reference, tones[k]);
        const double got = toneLevel(heard, tones[k]);
        QVERIFY2(qAbs(got - want) < 0.1 * want + 2e-4,
                 qPrintable(QString("channel %1 (volume %2, %3): %4 heard, %5 expected")
                                .arg(k)
                                .arg(volumes[k])
                                .arg(enabled[k] ? "on" : "off")
                                .arg(got)
                                .arg(want)));
    }
    QVERIFY(playback.session.stopped.isEmpty());
}

void AudioOutputTest::switchingVolumeAndMute()
{
    AudioChannelControl channels(nullptr);
    const QVector<double> tones = channelTones();
    Playback playback(&channels, tones, 4096);
    QVERIFY(playback.start());
    recorder.take(kRate / 2);
    recorder.restart();
    const double before = toneLevel(recorder.take(8820), tones[5]);
    QVERIFY(qAbs(before - kAmplitude) < 0.2 * kAmplitude);

    // Off: gone within half a second.
    channels.setChannelEnabled(5, false);
    QElapsedTimer wait;
    wait.start();
    QTRY_VERIFY_WITH_TIMEOUT(wait.elapsed() >= 500, 2000);
    recorder.restart();
    QVector<qint16> heard = recorder.take(8820);
    QVERIFY2(toneLevel(heard, tones[5]) < 0.05 * kAmplitude, qPrintable(QString::number(toneLevel(heard, tones[5]))));
    QVERIFY(toneLevel(heard, tones[4]) > 0.8 * kAmplitude);

    // Master volume 50: every tone at gainFromVolume(50) of its level.
    playback.thread.gain = gainFromVolume(50);
    wait.restart();
    QTRY_VERIFY_WITH_TIMEOUT(wait.elapsed() >= 500, 2000);
    recorder.restart();
    heard = recorder.take(8820);
    const double level = toneLevel(heard, tones[4]) / before;
    QVERIFY2(qAbs(level - 0.095) < 0.015, qPrintable(QString::number(level)));

    // Mute: silence, at the same pace.
    playback.thread.muted = true;
    wait.restart();
    QTRY_VERIFY_WITH_TIMEOUT(wait.elapsed() >= 500, 2000);
    recorder.restart();
    const qint64 processed = playback.output.read().processedUSecs;
    heard = recorder.take(8820);
    QVERIFY2(rms(heard) < 2.0 / 32768, qPrintable(QString::number(rms(heard))));
    QTRY_VERIFY_WITH_TIMEOUT(playback.output.read().processedUSecs > processed + 100000, 3000);
}

void AudioOutputTest::vocoderKeepsThePitch_data()
{
    QTest::addColumn<int>("rate");
    QTest::newRow("2x") << int(PlaybackRate::Double);
    QTest::newRow("0.5x") << int(PlaybackRate::Half);
}

void AudioOutputTest::vocoderKeepsThePitch()
{
    QFETCH(int, rate);
    AudioChannelControl channels(nullptr);
    Playback playback(&channels, {1000.0}, 4096);
    QVERIFY(playback.thread.setPlaybackRate(PlaybackRate::Enum(rate)));
    QVERIFY(playback.start());
    recorder.take(kRate);
    recorder.restart();
    const QVector<qint16> heard = recorder.take(kRate / 2);
    QVERIFY(rms(heard) > kAmplitude / 4);
    const double frequency = strongestFrequency(heard, 970.0, 1030.0);
    QVERIFY2(qAbs(frequency - 1000.0) < 10.0, qPrintable(QString::number(frequency)));
}

void AudioOutputTest::endOfStreamReportsOnceAndLeavesTheOutput()
{
    AudioChannelControl channels(nullptr);
    Playback playback(&channels, {700.0}, 4096, kRate / 2);
    GuardedAudioOutput::Reading atReport;
    playback.session.whenStopped = [&] { atReport = playback.output.read(); };
    QVERIFY(playback.start());
    QTRY_COMPARE_WITH_TIMEOUT(playback.session.stopped.size(), 1, 5000);
    QCOMPARE(playback.session.stopped.first(), quint64(1));
    QVERIFY(playback.thread.hasEnded());
    // Reported once the device has played it all, not merely taken it in
    // (less a millisecond: the processed time is rounded at every write);
    // silence keeps the clock going.
    const quint64 played = AudioDeviceSynchronizer::playedTime(atReport.processedUSecs, atReport.state,
                                                               atReport.bufferSize, atReport.bytesFree, kRate);
    QVERIFY2(played >= 499000000ULL, qPrintable(QString("%1 ns played").arg(played)));
    const qint64 processed = atReport.processedUSecs;
    QTRY_VERIFY_WITH_TIMEOUT(playback.output.read().processedUSecs > processed + 100000, 3000);
    QCOMPARE(playback.session.stopped.size(), 1);
    // The thread waits for the session: it pauses, resumes and stops.
    QVERIFY(playback.thread.requestPause());
    QVERIFY(playback.thread.requestResume());
}

void AudioOutputTest::pauseAndStopWhileTheDeviceTakesNothing()
{
    AudioChannelControl channels(nullptr);
    Playback playback(&channels, {700.0}, 44100);
    QVERIFY(playback.start());
    // A suspended output takes nothing: the thread sits in its write loop.
    playback.output.suspend();
    QElapsedTimer wait;
    wait.start();
    QTRY_VERIFY_WITH_TIMEOUT(wait.elapsed() >= 100, 1000);
    QVERIFY(playback.thread.requestPause());
    QCOMPARE(playback.thread.state(), OutputThread::Paused);
    QVERIFY(playback.thread.requestResume());
    playback.thread.requestStop();
    QVERIFY(playback.thread.isFinished());
}

HARBEND_TEST_MAIN(AudioOutputTest)
#include "tst_audio_output.moc"
