#pragma once

#include <QAudio>
#include <QMutex>

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

    // Takes the output over; it is stopped and deleted with this object.
    explicit GuardedAudioOutput(QAudioOutput* output);
    ~GuardedAudioOutput();

    GuardedAudioOutput(const GuardedAudioOutput&) = delete;
    GuardedAudioOutput& operator=(const GuardedAudioOutput&) = delete;

    // The object itself, for signal connections only.
    QAudioOutput* object() const { return connectable; }
    int sampleRate() const { return rate; }

    // Starts (anew) in push mode; false when the output gave no device.
    bool start();
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
    QAudioOutput* output;        // guarded by mutex
    QIODevice* device = nullptr; // guarded by mutex
    QAudioOutput* const connectable;
    const int rate;
};

} // namespace Harbend
