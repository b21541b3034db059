#include "PlaybackTestSupport.h"
#include "Core/Decoder/OggStream.h"

#include "Core/Decoder/AudioSample.h"
#include "Core/Decoder/EOSSample.h"

#include <QAudioDeviceInfo>
#include <QAudioOutput>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cmath>
#include <cstring>

namespace PlaybackTest {

SinkRecorder::~SinkRecorder() { stop(); }

void SinkRecorder::stop()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(3000);
    }
}

bool SinkRecorder::start()
{
    wall.start();
    process.start("parec", {"-d", "nullsink.monitor", "--raw", "--format=s16le", QString("--rate=%1").arg(kSinkRate),
                            "--channels=1", "--latency-msec=20"});
    return process.waitForStarted(5000);
}

void SinkRecorder::pull()
{
    process.waitForReadyRead(20);
    const QByteArray block = process.readAllStandardOutput();
    if (block.isEmpty())
        return;
    data.append(block);
    arrivals.append(qMakePair(int(data.size() / 2), now()));
}

qint64 SinkRecorder::heardAt(int index) const
{
    for (const auto& arrival : arrivals) {
        if (arrival.first > index)
            return arrival.second - qint64(arrival.first - index) * 1000000000LL / kSinkRate;
    }
    return -1;
}

QVector<int> clicks(const QVector<qint16>& heard)
{
    QVector<int> found;
    for (int i = 0; i < heard.size(); ++i) {
        if (qAbs(int(heard[i])) > 16000 && (found.isEmpty() || i - found.last() > kSinkRate / 20))
            found.append(i);
    }
    return found;
}

int SinkRecorder::available()
{
    pull();
    return data.size() / 2;
}

bool SinkRecorder::waitUntilRunning(int timeoutMs)
{
    QAudioOutput output(QAudioDeviceInfo::defaultOutputDevice(), Harbend::OggStream::pcmFormat(kSinkRate));
    QIODevice* device = output.start();
    QElapsedTimer waited;
    waited.start();
    bool running = false;
    while (!running && waited.elapsed() < timeoutMs) {
        const int free = output.bytesFree() & ~1;
        if (device && free > 0)
            device->write(QByteArray(free, 0));
        QCoreApplication::processEvents();
        running = available() > kSinkRate / 10;
    }
    output.stop();
    restart();
    return running;
}

void SinkRecorder::restart()
{
    pull();
    data.clear();
    arrivals.clear();
}

QVector<qint16> SinkRecorder::take(int count, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (data.size() / 2 < count && waited.elapsed() < timeoutMs) {
        QCoreApplication::processEvents();
        pull();
    }
    QVector<qint16> samples(qMin(count, int(data.size() / 2)));
    std::memcpy(samples.data(), data.constData(), size_t(samples.size()) * 2);
    return samples;
}

double toneLevel(const QVector<qint16>& samples, double frequency, int rate)
{
    if (samples.isEmpty())
        return 0.0;
    // Goertzel over the whole block with a Hann window, scaled to the amplitude.
    const double w = 2.0 * M_PI * frequency / rate;
    const double c = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0, windowSum = 0.0;
    const int n = samples.size();
    for (int i = 0; i < n; ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / (n - 1));
        windowSum += hann;
        const double s = samples[i] / 32768.0 * hann + c * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    return 2.0 * std::sqrt(qMax(0.0, power)) / windowSum;
}

double rms(const QVector<qint16>& samples)
{
    double sum = 0.0;
    for (qint16 s : samples)
        sum += double(s) * s;
    return samples.isEmpty() ? 0.0 : std::sqrt(sum / samples.size()) / 32768.0;
}

double strongestFrequency(const QVector<qint16>& samples, double low, double high, int rate)
{
    double best = low, bestLevel = -1.0;
    for (double f = low; f <= high; f += low * 0.0005) {
        const double level = toneLevel(samples, f, rate);
        if (level > bestLevel) {
            bestLevel = level;
            best = f;
        }
    }
    return best;
}

ToneSource::ToneSource(Harbend::SampleQueue* queue, int rate, QVector<double> frequencies, double amplitude, int frames,
                       qint64 totalFrames)
    : queue(queue),
      rate(rate),
      frequencies(std::move(frequencies)),
      amplitude(amplitude),
      frames(frames),
      totalFrames(totalFrames)
{
}

ToneSource::~ToneSource()
{
    stopFeeding();
    wait();
}

void ToneSource::stopFeeding() { running = false; }

void ToneSource::fill(float* data, int frames, qint64 first, int rate, const QVector<double>& frequencies,
                      double amplitude)
{
    for (int c = 0; c < frequencies.size(); ++c) {
        for (int i = 0; i < frames; ++i) {
            const double t = double(first + i) / rate;
            data[c * frames + i] = float(amplitude * std::sin(2.0 * M_PI * frequencies[c] * t));
        }
    }
}

void ToneSource::run()
{
    qint64 position = 0;
    while (running && (totalFrames < 0 || position < totalFrames)) {
        Harbend::AudioSample* sample = new Harbend::AudioSample;
        sample->allocate(frequencies.size(), frames);
        fill(sample->data, frames, position, rate, frequencies, amplitude);
        sample->time = position * 1000000000LL / rate;
        sample->duration = qint64(frames) * 1000000000LL / rate;
        position += frames;
        // Blocks while the queue is full; a stop from the test arrives with a close.
        queue->addSample(QSharedPointer<Harbend::Sample>(sample));
    }
    if (running && totalFrames >= 0)
        queue->addSample(QSharedPointer<Harbend::Sample>(new Harbend::EOSSample));
}

} // namespace PlaybackTest
