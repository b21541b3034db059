#pragma once

#include <QAudio>
#include <QMutex>

#include <functional>

class QAudioOutput;
class QIODevice;

namespace Harbend {

// The playback's audio output, used by the session (GUI thread), the audio
// output thread (writes) and the audio clock (video and GUI threads). Qt does
// not promise that one QAudioOutput may be used from several threads, so
// every use goes through this object's lock. The lock is recursive because
// the output may run the event loop inside its own calls, which may ask for
// the position; the output is deleted outside the lock, and uses after that
// find none.
class GuardedAudioOutput {
public:
    // What the audio clock needs, read at one moment.
    struct Reading {
        qint64 processedUSecs = 0;
        QAudio::State state = QAudio::StoppedState;
        int bufferSize = 0;
        int bytesFree = 0;
        int sampleRate = 0;
    };

    // Makes a second output on the same device and format, or none.
    using Maker = std::function<QAudioOutput*()>;

    // Takes the output over; it is stopped and deleted with this object, and
    // so is the second one that makeSpare gives for restarts.
    explicit GuardedAudioOutput(QAudioOutput* output, Maker makeSpare = Maker());
    ~GuardedAudioOutput();

    GuardedAudioOutput(const GuardedAudioOutput&) = delete;
    GuardedAudioOutput& operator=(const GuardedAudioOutput&) = delete;

    // The output in use, for signal connections only; restart() may change it.
    QAudioOutput* object() const;
    int sampleRate() const { return rate; }

    // Starts (anew) in push mode; false when the output gave no device.
    bool start();
    // Starts anew with nothing queued from before: the spare output takes
    // the device before the one in use lets it go. A sound server whose sink
    // is left without a stream even for a moment may run ahead on its own
    // (PulseAudio's null sink by two seconds when nothing records it), and
    // the next stream waits for it. Without a spare the output in use
    // restarts.
    bool restart();
    void stop();
    void reset();
    void suspend();
    void resume();
    void setBufferSize(int bytes);

    int bytesFree() const;
    // Writes to the device of the last start; -1 without one.
    qint64 write(const char* data, qint64 length);
    Reading read() const;

private:
    mutable QRecursiveMutex mutex;
    QAudioOutput* output;          // guarded by mutex
    QAudioOutput* spare = nullptr; // stopped; guarded by mutex
    QIODevice* device = nullptr;   // guarded by mutex
    int bufferBytes = 0;           // guarded by mutex; 0: the output's own
    const Maker makeSpare;
    const int rate;
};

} // namespace Harbend
