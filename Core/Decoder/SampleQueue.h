#pragma once

#include "Core/Decoder/Sample.h"

#include <QList>
#include <QMutex>
#include <QSharedPointer>
#include <QWaitCondition>

namespace Harbend {

// A bounded queue between a decoding thread and an output thread. Producers
// wait while it is full and open; consumers never wait. Created closed.
class SampleQueue {
public:
    explicit SampleQueue(unsigned capacity);
    ~SampleQueue();

    SampleQueue(const SampleQueue&) = delete;
    SampleQueue& operator=(const SampleQueue&) = delete;

    void addSample(QSharedPointer<Sample> sample);
    QSharedPointer<Sample> dequeueSample();
    // For consumers that have nothing else to do (benchmarks): waits for a
    // sample; null once the queue is closed.
    QSharedPointer<Sample> waitForSample();

    void open();
    void close();
    void clear();

    unsigned size();
    unsigned capacity() const { return m_capacity; }

private:
    void setClosed(bool value);

    QSharedPointer<Sample> takeFirst();

    // Guards what follows; condition waits on it. Taken by a decoding thread
    // that holds its stream's lock, never the other way round.
    QMutex mutex;
    QWaitCondition condition;
    const unsigned m_capacity;
    unsigned count = 0;
    QList<QSharedPointer<Sample>> samples;
    bool closed = true;
};

} // namespace Harbend
