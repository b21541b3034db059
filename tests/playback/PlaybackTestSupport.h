#pragma once

#include "Core/Decoder/SampleQueue.h"

#include <QAudioFormat>
#include <QByteArray>
#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QProcess>
#include <QThread>
#include <QVector>
#include <QVideoFrame>

#include <atomic>
#include <functional>

namespace PlaybackTest {

const int kSinkRate = 44100;

// Records the null sink's monitor (mono, 16-bit, 44.1 kHz) through parec.
class SinkRecorder {
public:
    ~SinkRecorder();
    bool start();
    // Nothing records the sink afterwards, as on a desktop.
    void stop();
    bool isRunning() const { return process.state() != QProcess::NotRunning; }
    // Waits until the sink delivers sound (a sleeping null sink takes up to
    // two seconds to wake); plays silence meanwhile.
    bool waitUntilRunning(int timeoutMs = 8000);
    // Drops what was recorded so far.
    void restart();
    // Samples recorded since the last restart; waits until at least count arrived.
    QVector<qint16> take(int count, int timeoutMs = 8000);
    int available();
    // Reads what the monitor delivered, waiting up to 20 ms for it.
    void pull();
    // Nanoseconds on the recorder's own monotonic clock.
    qint64 now() const { return wall.nsecsElapsed(); }
    // When the sample with this index (since the last restart) was heard, on
    // that clock: taken from the arrival of the block that holds it.
    qint64 heardAt(int index) const;

private:
    QProcess process;
    QByteArray data;
    QElapsedTimer wall;
    QVector<QPair<int, qint64>> arrivals; // samples received so far, wall ns
};

// Sample indexes of the clicks that make-recording puts into the sound (above
// half of full scale, at least 50 ms apart).
QVector<int> clicks(const QVector<qint16>& heard);

// Amplitude (0..1 of full scale) of the given frequency in the samples.
double toneLevel(const QVector<qint16>& samples, double frequency, int rate = kSinkRate);
// RMS of the samples in units of full scale.
double rms(const QVector<qint16>& samples);
// The frequency between low and high with the highest level, to 0.05%.
double strongestFrequency(const QVector<qint16>& samples, double low, double high, int rate = kSinkRate);

// Fills a sample queue with planar blocks of steady tones, one per channel,
// until stopped; the queue must be open.
class ToneSource : public QThread {
public:
    ToneSource(Harbend::SampleQueue* queue, int rate, QVector<double> frequencies, double amplitude, int frames,
               qint64 totalFrames = -1);
    ~ToneSource() override;
    void stopFeeding();
    // The planar block that starts at the given frame.
    static void fill(float* data, int frames, qint64 first, int rate, const QVector<double>& frequencies,
                     double amplitude);

protected:
    void run() override;

private:
    Harbend::SampleQueue* queue;
    int rate;
    QVector<double> frequencies;
    double amplitude;
    int frames;
    qint64 totalFrames;
    std::atomic<bool> running{true};
};

// Stands in for the playback session: counts the output threads' reports.
class SessionStub : public QObject {
    Q_OBJECT
public:
    QVector<quint64> stopped;
    std::function<void()> whenStopped; // called as each report arrives
public slots:
    void outputStopped(quint64 playback)
    {
        stopped.append(playback);
        if (whenStopped)
            whenStopped();
    }
};

} // namespace PlaybackTest
