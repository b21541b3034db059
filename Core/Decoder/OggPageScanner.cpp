#include "Core/Decoder/OggPageScanner.h"

#include <QIODevice>

#include <algorithm>
#include <limits>

namespace Harbend {

OggPageScanner::OggPageScanner() { ogg_sync_init(&sync); }

OggPageScanner::~OggPageScanner() { ogg_sync_clear(&sync); }

bool OggPageScanner::moveTo(qint64 offset)
{
    reset();
    nextOffset = offset;
    return device && device->seek(offset);
}

void OggPageScanner::reset()
{
    ogg_sync_reset(&sync);
    lastPageStart = -1;
}

bool OggPageScanner::nextPage(ogg_page* page) { return nextPageBefore(page, endOffset); }

bool OggPageScanner::nextPageBefore(ogg_page* page, qint64 limit)
{
    if (!device)
        return false;
    // Past the limit the reads start small and double: a page that ends soon
    // after it costs little, a long one a bounded number of reads.
    qint64 pastLimit = 64;
    for (;;) {
        if (nextOffset >= limit)
            return false;
        const long result = ogg_sync_pageseek(&sync, page);
        if (result > 0) {
            lastPageStart = nextOffset;
            nextOffset += result;
            ++totalPages;
            return true;
        }
        if (result < 0) {
            nextOffset -= result; // skipped bytes that are not a page
            continue;
        }
        const qint64 at = device->pos();
        qint64 wanted = ReadSize;
        if (at < limit) {
            wanted = std::min<qint64>(readSize, limit - at);
        } else {
            wanted = std::min<qint64>(ReadSize, pastLimit);
            pastLimit *= 2;
        }
        char* buffer = ogg_sync_buffer(&sync, long(wanted));
        if (!buffer)
            return false;
        const qint64 got = device->read(buffer, wanted);
        if (got <= 0)
            return false;
        totalBytes += got;
        ogg_sync_wrote(&sync, long(got));
    }
}

bool OggPageScanner::nextPageOf(int serialno, ogg_page* page, bool needGranule)
{
    while (nextPage(page)) {
        if (ogg_page_serialno(page) == serialno && (!needGranule || ogg_page_granulepos(page) >= 0))
            return true;
    }
    return false;
}

} // namespace Harbend
