#pragma once

#include "Core/Decoder/Sample.h"

#include <QVideoFrame>

namespace Harbend {

// One decoded picture; the frame releases its buffer with its last holder.
class VideoSample : public Sample {
public:
    VideoSample() : Sample(Video, 0, 0) {}
    explicit VideoSample(const QVideoFrame& frame) : Sample(Video, 0, 0), frame(frame) {}

    QVideoFrame frame;
};

} // namespace Harbend
