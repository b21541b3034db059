#include "VideoEncoder.h"

#include <cmath>

void VideoEncoder::placePictures(const StreamSpec& spec)
{
    fpsNumerator = spec.fpsNumerator;
    fpsDenominator = spec.fpsDenominator;
    firstPicture = std::llround(spec.start * fpsNumerator / fpsDenominator);
    pictures = std::llround(spec.duration * fpsNumerator / fpsDenominator);
}

double VideoEncoder::startMs(const StreamSpec&) const { return pictureMs(firstPicture); }

double VideoEncoder::endMs(const StreamSpec&) const { return pictureMs(firstPicture + pictures); }
