#pragma once

#include <QtGlobal>

#include <limits>

#include <ogg/ogg.h>

class QIODevice;

namespace Harbend {

// Finds whole Ogg pages in a device with a sync state of its own, skipping
// bytes that are not a page, and knows the file offset of each page found
// once it has been placed with moveTo().
class OggPageScanner {
public:
    // Bytes asked of the device per read.
    static const int ReadSize = 8500;

    OggPageScanner();
    ~OggPageScanner();

    OggPageScanner(const OggPageScanner&) = delete;
    OggPageScanner& operator=(const OggPageScanner&) = delete;

    void setDevice(QIODevice* source) { device = source; }
    // Pages that begin at or after this offset are not found (by nextPage and nextPageOf).
    void setEnd(qint64 offset) { endOffset = offset; }

    // Bytes asked of the device per read before a limit (ReadSize at first).
    void setReadSize(qint64 bytes) { readSize = bytes; }

    // Seeks the device and forgets buffered bytes; false when the seek fails.
    bool moveTo(qint64 offset);
    // Forgets buffered bytes; reading goes on where the device stands.
    void reset();

    // False at the end of the data.
    bool nextPage(ogg_page* page);
    // The next page that begins before limit: past it, only as many bytes are
    // read as complete such a page, so that scans of windows that meet there
    // read each byte about once. False when none is left before the limit.
    bool nextPageBefore(ogg_page* page, qint64 limit);
    // The next page of a serial number; with needGranule, only one that
    // carries a granule position (a packet ends on it).
    bool nextPageOf(int serialno, ogg_page* page, bool needGranule);

    // Offsets of the page found last (valid after moveTo()).
    qint64 pageStart() const { return lastPageStart; }
    qint64 pageEnd() const { return nextOffset; }

    // What this scanner has read, for measurements.
    qint64 bytesRead() const { return totalBytes; }
    qint64 pagesRead() const { return totalPages; }

private:
    QIODevice* device = nullptr;
    ogg_sync_state sync;
    qint64 endOffset = std::numeric_limits<qint64>::max();
    qint64 readSize = ReadSize;
    qint64 lastPageStart = -1;
    qint64 nextOffset = 0;
    qint64 totalBytes = 0;
    qint64 totalPages = 0;
};

} // namespace Harbend
