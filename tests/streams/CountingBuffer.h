#pragma once

#include <QBuffer>

#include <algorithm>

// A file in memory that counts what is read from it. Opened unbuffered, so
// that the count is what its reader asks for, not what a buffer fetched.
class CountingBuffer : public QBuffer {
public:
    explicit CountingBuffer(QByteArray* bytes) : QBuffer(bytes) { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }
    qint64 bytesRead = 0;

protected:
    qint64 readData(char* data, qint64 size) override
    {
        const qint64 got = QBuffer::readData(data, size);
        bytesRead += std::max<qint64>(got, 0);
        return got;
    }
};
