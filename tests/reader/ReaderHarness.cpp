#include "ReaderHarness.h"

#include "Core/Decoder/OggStream.h"
#include "Core/Decoder/Sample.h"
#include "tests/streams/Recording.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <cstdlib>

using namespace Harbend;

Watchdog::Watchdog(int timeoutMs, const char* what)
{
    thread = std::thread([this, timeoutMs, what] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!condition.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return done; })) {
            std::fprintf(stderr, "HANG: %s did not finish within %d ms\n", what, timeoutMs);
            std::fflush(stderr);
            std::abort();
        }
    });
}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    condition.notify_all();
    thread.join();
}

ReaderHarness::ReaderHarness(const QString& path) : file(path), metaData(nullptr), reader(&metaData, nullptr) {}

ReaderHarness::~ReaderHarness() { reader.close(); }

bool ReaderHarness::openAndDiscover() { return reader.open(&file) && reader.read(); }

namespace {

// One pass over both sample queues; true when something was taken.
bool takeSamples(OggReader& reader, bool& audioEnded, bool& videoEnded, int& audioCount, int& videoCount,
                 qint64* audioFirst = nullptr, qint64* videoFirst = nullptr)
{
    bool took = false;
    struct Side {
        SampleQueue* queue;
        bool& ended;
        int& count;
        qint64* first;
    } sides[] = {{reader.getAudioQueue(), audioEnded, audioCount, audioFirst},
                 {reader.getVideoQueue(), videoEnded, videoCount, videoFirst}};
    for (Side& side : sides) {
        if (side.ended)
            continue;
        const QSharedPointer<Sample> sample = side.queue->dequeueSample();
        if (!sample)
            continue;
        took = true;
        if (sample->type == Sample::EndOfStream) {
            side.ended = true;
        } else {
            if (side.first && *side.first < 0)
                *side.first = sample->time;
            ++side.count;
        }
    }
    return took;
}

} // namespace

bool ReaderHarness::drainToEnd(int timeoutMs)
{
    bool audioEnded = !reader.getAudioStream();
    bool videoEnded = !reader.getVideoStream();
    QDeadlineTimer deadline(timeoutMs);
    while (!(audioEnded && videoEnded) && !deadline.hasExpired()) {
        // The end of the file reaches the streams through queued calls.
        QCoreApplication::processEvents();
        if (!takeSamples(reader, audioEnded, videoEnded, audioSamples, videoSamples))
            QThread::usleep(200);
    }
    return audioEnded && videoEnded;
}

bool ReaderHarness::firstSamples(qint64& audioTime, qint64& videoTime, int timeoutMs)
{
    audioTime = -1;
    videoTime = -1;
    bool audioEnded = false;
    bool videoEnded = false;
    const bool wantAudio = reader.getAudioStream() != nullptr;
    const bool wantVideo = reader.getVideoStream() != nullptr;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if ((!wantAudio || audioTime >= 0 || audioEnded) && (!wantVideo || videoTime >= 0 || videoEnded))
            return true;
        QCoreApplication::processEvents();
        if (!takeSamples(reader, audioEnded, videoEnded, audioSamples, videoSamples, &audioTime, &videoTime))
            QThread::usleep(200);
    }
    return false;
}

QVector<ManifestPage> manifestPages(const QJsonObject& manifest)
{
    QVector<ManifestPage> pages;
    for (const QJsonValue& value : manifest.value("pages").toArray()) {
        const QJsonObject page = value.toObject();
        pages.append(ManifestPage{qint64(page.value("offset").toDouble()), qint64(page.value("bytes").toDouble()),
                                  page.value("serial").toInt(), qint64(page.value("granule").toDouble()),
                                  page.value("bos").toBool(), page.value("continued").toBool(),
                                  page.value("header").toBool(), qint64(page.value("timeMs").toDouble())});
    }
    return pages;
}

bool delayHeaders(const QString& source, const QString& target, int serial, int afterDataPages)
{
    QFile in(source);
    QFile out(target);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = in.readAll();
    const QVector<ManifestPage> pages = manifestPages(Recording::manifest(source));
    QByteArray delayed;
    QByteArray result;
    int dataPages = 0;
    for (const ManifestPage& page : pages) {
        const QByteArray raw = bytes.mid(int(page.offset), int(page.bytes));
        if (page.serial == serial && page.header && !page.bos) {
            delayed.append(raw);
            continue;
        }
        result.append(raw);
        if (!page.header && ++dataPages == afterDataPages)
            result.append(delayed);
    }
    if (dataPages < afterDataPages)
        result.append(delayed);
    return out.write(result) == result.size();
}

QVector<ManifestPage> scanPages(const QString& path)
{
    QVector<ManifestPage> pages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return pages;
    OggPageScanner scanner;
    scanner.setDevice(&file);
    scanner.moveTo(0);
    ogg_page page;
    while (scanner.nextPage(&page)) {
        pages.append(ManifestPage{scanner.pageStart(), scanner.pageEnd() - scanner.pageStart(),
                                  ogg_page_serialno(&page), qint64(ogg_page_granulepos(&page)),
                                  ogg_page_bos(&page) != 0, ogg_page_continued(&page) != 0, false, -1});
    }
    return pages;
}

namespace {
bool writePages(QFile& out, ogg_stream_state& stream, int (*next)(ogg_stream_state*, ogg_page*))
{
    ogg_page page;
    while (next(&stream, &page)) {
        if (out.write(reinterpret_cast<const char*>(page.header), page.header_len) != page.header_len ||
            out.write(reinterpret_cast<const char*>(page.body), page.body_len) != page.body_len)
            return false;
    }
    return true;
}
} // namespace

bool repaginate(const QString& source, const QString& target, int serial, int pageBytes)
{
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    ogg_stream_state in;
    ogg_stream_state written;
    ogg_stream_init(&in, serial);
    ogg_stream_init(&written, serial);
    static int fillSize = 0;
    fillSize = pageBytes;
    const auto fill = [](ogg_stream_state* stream, ogg_page* page) {
        return ogg_stream_pageout_fill(stream, page, fillSize);
    };
    bool ok = true;
    for (QByteArray raw : Recording::pages(source)) {
        ogg_page page = Recording::asPage(raw);
        if (ogg_page_serialno(&page) != serial || ogg_stream_pagein(&in, &page) != 0)
            continue;
        ogg_packet packet;
        while (ok && ogg_stream_packetout(&in, &packet) == 1) {
            ogg_stream_packetin(&written, &packet);
            ok = writePages(out, written, fill) && writePages(out, written, ogg_stream_flush);
        }
    }
    ogg_stream_clear(&in);
    ogg_stream_clear(&written);
    return ok;
}
