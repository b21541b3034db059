#include "Core/Multimedia/GuardedAudioOutput.h"

#include <QAudioOutput>

#include <utility>

namespace Harbend {

GuardedAudioOutput::GuardedAudioOutput(QAudioOutput* output, Maker makeSpare)
    : output(output), makeSpare(std::move(makeSpare)), rate(output->format().sampleRate())
{
}

GuardedAudioOutput::~GuardedAudioOutput()
{
    QAudioOutput* doomed[2];
    {
        QMutexLocker lock(&mutex);
        doomed[0] = output;
        doomed[1] = spare;
        output = spare = nullptr;
        device = nullptr;
    }
    // Qt's PulseAudio output runs the event loop while it is deleted.
    for (QAudioOutput* one : doomed) {
        if (!one)
            continue;
        one->reset();
        one->stop();
        delete one;
    }
}

QAudioOutput* GuardedAudioOutput::object() const
{
    QMutexLocker lock(&mutex);
    return output;
}

bool GuardedAudioOutput::start()
{
    QMutexLocker lock(&mutex);
    device = output ? output->start() : nullptr;
    return device != nullptr;
}

bool GuardedAudioOutput::restart()
{
    QMutexLocker lock(&mutex);
    if (!output)
        return false;
    if (!spare && makeSpare) {
        spare = makeSpare();
        if (spare && bufferBytes > 0)
            spare->setBufferSize(bufferBytes);
    }
    QIODevice* fresh = spare ? spare->start() : nullptr;
    output->reset();
    output->stop();
    if (!fresh) {
        device = output->start();
        return device != nullptr;
    }
    std::swap(output, spare);
    device = fresh;
    return true;
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
    bufferBytes = bytes;
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
