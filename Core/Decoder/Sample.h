#pragma once

#include <QtGlobal>

namespace Harbend {

// A decoded unit; holders delete it through this base.
class Sample {
public:
    enum Type { Audio = 1, Video = 2, EndOfStream = 3 };

    Sample(int type, qint64 time, qint64 duration) : type(type), time(time), duration(duration) {}
    virtual ~Sample() {}

    int type;
    qint64 time;     // nanoseconds
    qint64 duration; // nanoseconds
};

} // namespace Harbend
