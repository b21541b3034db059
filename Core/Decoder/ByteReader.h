#pragma once

#include <QtGlobal>

namespace Harbend {

// Bounded reads of fixed-width fields from a packet: a field that does not lie
// wholly inside the data is refused, never read.
class ByteReader {
public:
    ByteReader(const unsigned char* data, qint64 size) : data(data), size(data ? size : 0) {}

    bool has(qint64 offset, qint64 length) const
    {
        return offset >= 0 && length >= 0 && length <= size && offset <= size - length;
    }

    bool u8(qint64 offset, quint32& value) const { return read(offset, 1, false, value); }
    bool le16(qint64 offset, quint32& value) const { return read(offset, 2, false, value); }
    bool le32(qint64 offset, quint32& value) const { return read(offset, 4, false, value); }
    bool be16(qint64 offset, quint32& value) const { return read(offset, 2, true, value); }
    bool be32(qint64 offset, quint32& value) const { return read(offset, 4, true, value); }

    // Whether the data starts at the offset with the given bytes.
    bool matches(qint64 offset, const char* bytes, qint64 length) const;

private:
    bool read(qint64 offset, int length, bool bigEndian, quint32& value) const;

    const unsigned char* data;
    qint64 size;
};

} // namespace Harbend
