#include "Core/Multimedia/GuardedAudioOutput.h"

#include <QAudioOutput>

namespace Harbend {

GuardedAudioOutput::GuardedAudioOutput(QAudioOutput* output)
    : output(output), connectable(output), rate(output->format().sampleRate())
{
}

GuardedAudioOutput::~GuardedAudioOutput()
{
    QAudioOutput* doomed;
    {
        QMutexLocker lock(&mutex);
        doomed = output;
        output = nullptr;
        device = nullptr;
    }
    // Qt's PulseAudio output runs the event loop while it is deleted.
    doomed->reset();
    doomed->stop();
    delete doomed;
}

bool GuardedAudioOutput::start()
{
    QMutexLocker lock(&mutex);
    device = output ? output->start() : nullptr;
    return device != nullptr;
}

void GuardedAudioOutput::stop()
{
    QMutexLocker lock(&mutex);
    device = nullptr;
    if (output)
        output->stop();
}

void GuardedAudioOutput::reset()
{
    QMutexLocker lock(&mutex);
    if (output)
        output->reset();
}

void GuardedAudioOutput::suspend()
{
    QMutexLocker lock(&mutex);
    if (output)
        output->suspend();
}

void GuardedAudioOutput::resume()
{
    QMutexLocker lock(&mutex);
    if (output)
        output->resume();
}

void GuardedAudioOutput::setBufferSize(int bytes)
{
    QMutexLocker lock(&mutex);
    if (output)
        output->setBufferSize(bytes);
}

int GuardedAudioOutput::bytesFree() const
{
    QMutexLocker lock(&mutex);
    return output ? output->bytesFree() : 0;
}

qint64 GuardedAudioOutput::write(const char* data, qint64 length)
{
    QMutexLocker lock(&mutex);
    return device ? device->write(data, length) : -1;
}

GuardedAudioOutput::Reading GuardedAudioOutput::read() const
{
    QMutexLocker lock(&mutex);
    Reading reading;
    reading.sampleRate = rate;
    if (!output)
        return reading;
    reading.processedUSecs = output->processedUSecs();
    reading.state = output->state();
    reading.bufferSize = output->bufferSize();
    reading.bytesFree = output->bytesFree();
    return reading;
}

} // namespace Harbend
