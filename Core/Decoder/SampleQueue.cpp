#include "Core/Decoder/SampleQueue.h"

#include <QMutexLocker>

namespace Harbend {

SampleQueue::SampleQueue(unsigned capacity) : m_capacity(capacity) {}

SampleQueue::~SampleQueue() { clear(); }

void SampleQueue::addSample(QSharedPointer<Sample> sample)
{
    QMutexLocker lock(&mutex);
    while (!closed) {
        if (count < m_capacity) {
            samples.append(sample);
            ++count;
            condition.wakeOne();
            return;
        }
        condition.wait(&mutex);
    }
}

QSharedPointer<Sample> SampleQueue::dequeueSample()
{
    QMutexLocker lock(&mutex);
    if (closed || samples.isEmpty())
        return QSharedPointer<Sample>();
    return takeFirst();
}

QSharedPointer<Sample> SampleQueue::waitForSample()
{
    QMutexLocker lock(&mutex);
    while (!closed) {
        if (!samples.isEmpty())
            return takeFirst();
        condition.wait(&mutex);
    }
    return QSharedPointer<Sample>();
}

QSharedPointer<Sample> SampleQueue::takeFirst()
{
    QSharedPointer<Sample> sample = samples.takeFirst();
    --count;
    condition.wakeAll();
    return sample;
}

void SampleQueue::open() { setClosed(false); }

void SampleQueue::close() { setClosed(true); }

void SampleQueue::clear()
{
    QMutexLocker lock(&mutex);
    samples.clear();
    count = 0;
    condition.wakeAll();
}

unsigned SampleQueue::size()
{
    QMutexLocker lock(&mutex);
    return count;
}

void SampleQueue::setClosed(bool value)
{
    QMutexLocker lock(&mutex);
    closed = value;
    condition.wakeAll();
}

} // namespace Harbend
