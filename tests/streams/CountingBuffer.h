#pragma once

#include <QBuffer>
#include <QFile>

#include <algorithm>

// A device that counts what is read from it. Opened unbuffered, so that the
// count is what its reader asks for, not what a buffer fetched.
template <class Device>
class CountingDevice : public Device {
public:
    template <class Source>
    explicit CountingDevice(Source source) : Device(source)
    {
        this->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    qint64 bytesRead = 0;

protected:
    qint64 readData(char* data, qint64 size) override
    {
        const qint64 got = Device::readData(data, size);
        bytesRead += std::max<qint64>(got, 0);
        return got;
    }
};

// A file in memory.
using CountingBuffer = CountingDevice<QBuffer>;
// A file on disk.
using CountingFile = CountingDevice<QFile>;
