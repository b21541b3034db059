#pragma once

#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QWaitCondition>

namespace Harbend {

// A blocking queue with a soft limit of N items: a producer at the limit waits
// for one wake-up and then goes on.
template <class T, int N>
class SharedQueue {
public:
    void enqueue(const T& item)
    {
        QMutexLocker lock(&mutex);
        if (closed)
            return;
        items.append(item);
        condition.wakeOne();
        if (items.size() >= N)
            condition.wait(&mutex);
    }

    // For callers that must never block (the GUI thread): appends past the
    // limit; false when the queue is closed and the item was dropped.
    bool enqueueWithoutWait(const T& item)
    {
        QMutexLocker lock(&mutex);
        if (closed)
            return false;
        items.append(item);
        condition.wakeOne();
        return true;
    }

    // Waits for an item; a null item once the queue is closed.
    T dequeue()
    {
        QMutexLocker lock(&mutex);
        while (!closed) {
            if (!items.isEmpty()) {
                T item = items.takeFirst();
                condition.wakeOne();
                return item;
            }
            condition.wait(&mutex);
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
    QWaitCondition condition;
    QList<T> items;
    bool closed = false;
};

} // namespace Harbend
