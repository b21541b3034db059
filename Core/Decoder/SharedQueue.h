#pragma once

#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QWaitCondition>

namespace Harbend {

// A blocking queue with a soft limit of N items: a producer at the limit waits
// for one wake-up and then goes on. The consumer wakes it only once the queue
// has drained to half, so that producer and consumer each run for a while
// instead of handing over the lock at every item; either side is woken only
// when it waits.
template <class T, int N>
class SharedQueue {
public:
    void enqueue(const T& item)
    {
        QMutexLocker lock(&mutex);
        if (closed)
            return;
        items.append(item);
        if (consumerWaiting)
            condition.wakeAll();
        if (items.size() >= N) {
            producerWaiting = true;
            condition.wait(&mutex);
            producerWaiting = false;
        }
    }

    // For callers that must never block (the GUI thread): appends past the
    // limit; false when the queue is closed and the item was dropped.
    bool enqueueWithoutWait(const T& item)
    {
        QMutexLocker lock(&mutex);
        if (closed)
            return false;
        items.append(item);
        if (consumerWaiting)
            condition.wakeAll();
        return true;
    }

    // Waits for an item; a null item once the queue is closed.
    T dequeue()
    {
        QMutexLocker lock(&mutex);
        while (!closed) {
            if (!items.isEmpty()) {
                T item = items.takeFirst();
                if (producerWaiting && items.size() <= N / 2)
                    condition.wakeAll();
                return item;
            }
            consumerWaiting = true;
            condition.wait(&mutex);
            consumerWaiting = false;
        }
        return T();
    }

    void open() { setClosed(false); }
    void close() { setClosed(true); }

    void clear()
    {
        QMutexLocker lock(&mutex);
        items = QList<T>();
        condition.wakeAll();
    }

    bool isClosedOrEmpty()
    {
        QMutexLocker lock(&mutex);
        return closed || items.isEmpty();
    }

    // Whether the producer waits at the limit (for tests).
    bool producerWaits()
    {
        QMutexLocker lock(&mutex);
        return producerWaiting;
    }

    int size()
    {
        QMutexLocker lock(&mutex);
        return items.size();
    }

private:
    void setClosed(bool value)
    {
        QMutexLocker lock(&mutex);
        closed = value;
        condition.wakeAll();
    }

    // Guards what follows; condition waits on it. Taken by the reading thread
    // under the reader's lock and a stream's page lock.
    QMutex mutex;
    // For both directions: the producer waits only on a full queue, the
    // consumer only on an empty one.
    QWaitCondition condition;
    QList<T> items;
    bool closed = false;
    bool producerWaiting = false;
    bool consumerWaiting = false;
};

} // namespace Harbend
