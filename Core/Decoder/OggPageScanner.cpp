#include "Core/Decoder/OggPageScanner.h"

#include <QIODevice>

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

bool OggPageScanner::nextPage(ogg_page* page)
{
    if (!device)
        return false;
    for (;;) {
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
        char* buffer = ogg_sync_buffer(&sync, ReadSize);
        if (!buffer)
            return false;
        const qint64 got = device->read(buffer, ReadSize);
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
