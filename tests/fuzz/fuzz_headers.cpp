// The header parser on a stream's first packets, through its byte entry and
// through the pages the reader hands a stream.
#include "PacketStream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PacketStream(data, size).parseHeaders();
    return 0;
}
