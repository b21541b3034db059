#include "Core/Decoder/ByteReader.h"

#include <cstring>

namespace Harbend {

bool ByteReader::matches(qint64 offset, const char* bytes, qint64 length) const
{
    return has(offset, length) && std::memcmp(data + offset, bytes, static_cast<size_t>(length)) == 0;
}

bool ByteReader::read(qint64 offset, int length, bool bigEndian, quint32& value) const
{
    if (!has(offset, length))
        return false;
    quint32 result = 0;
    for (int i = 0; i < length; ++i) {
        const int index = bigEndian ? i : length - 1 - i;
        result = (result << 8) | data[offset + index];
    }
    value = result;
    return true;
}

} // namespace Harbend
