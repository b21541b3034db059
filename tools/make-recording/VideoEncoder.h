#pragma once

#include "Encoder.h"

// A video encoder's pictures lie on its frame grid: the first one's number
// comes from the first data time, their count from the duration, and the
// stream's time range is theirs.
class VideoEncoder : public Encoder {
public:
    double startMs(const StreamSpec& spec) const override;
    double endMs(const StreamSpec& spec) const override;

protected:
    // Frame rate, first picture and picture count from the spec.
    void placePictures(const StreamSpec& spec);
    double pictureMs(long long picture) const { return double(picture) * 1000.0 * fpsDenominator / fpsNumerator; }

    int fpsNumerator = 1, fpsDenominator = 1;
    long long firstPicture = 0;
    long long pictures = 0;
};
