#include "Core/Multimedia/GuardedAudioOutput.h"

#include <QAudioOutput>

namespace Harbend {

GuardedAudioOutput::GuardedAudioOutput(QAudioOutput* output)
    : output(output), rate(output->format().sampleRate())
{
}

GuardedAudioOutput::~GuardedAudioOutput()
{
    QMutexLocker lock(&mutex);
    output->reset();
    output->stop();
    delete output;
}

bool GuardedAudioOutput::start()
{
    QMutexLocker lock(&mutex);
    device = output->start();
    return device != nullptr;
}

void GuardedAudioOutput::stop()
{
    QMutexLocker lock(&mutex);
    output->stop();
    device = nullptr;
}

void GuardedAudioOutput::reset()
{
    QMutexLocker lock(&mutex);
    output->reset();
}

void GuardedAudioOutput::suspend()
{
    QMutexLocker lock(&mutex);
    output->suspend();
}

void GuardedAudioOutput::resume()
{
    QMutexLocker lock(&mutex);
    output->resume();
}

void GuardedAudioOutput::setBufferSize(int bytes)
{
    QMutexLocker lock(&mutex);
    output->setBufferSize(bytes);
}

int GuardedAudioOutput::bytesFree() const
{
    QMutexLocker lock(&mutex);
    return output->bytesFree();
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
    reading.processedUSecs = output->processedUSecs();
    reading.state = output->state();
    reading.bufferSize = output->bufferSize();
    reading.bytesFree = output->bytesFree();
    reading.sampleRate = rate;
    return reading;
}

} // namespace Harbend
