#include "Encoder.h"

#include "DiracEncoder.h"
#include "OpusEncoder.h"
#include "SpeexEncoder.h"
#include "TheoraEncoder.h"
#include "VorbisEncoder.h"

std::unique_ptr<Encoder> Encoder::create(const std::string& codec)
{
    if (codec == "vorbis")
        return std::unique_ptr<Encoder>(new VorbisEncoder);
    if (codec == "opus")
        return std::unique_ptr<Encoder>(new OpusEncoder);
    if (codec == "speex")
        return std::unique_ptr<Encoder>(new SpeexEncoder);
    if (codec == "theora")
        return std::unique_ptr<Encoder>(new TheoraEncoder);
    if (codec == "dirac")
        return std::unique_ptr<Encoder>(new DiracEncoder);
    return nullptr;
}
