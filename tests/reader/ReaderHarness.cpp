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

bool ReaderHarness::takeSamples(bool& audioEnded, bool& videoEnded, qint64* audioFirst, qint64* videoFirst)
{
    bool took = false;
    struct Side {
        SampleQueue* queue;
        bool& ended;
        int& count;
        qint64* first;
    } sides[] = {{reader.getAudioQueue(), audioEnded, audioSamples, audioFirst},
                 {reader.getVideoQueue(), videoEnded, videoSamples, videoFirst}};
    for (Side& side : sides) {
        if (side.ended)
            continue;
        const QSharedPointer<Sample> sample = side.queue->dequeueSample();
        if (!sample)
            continue;
        took = true;
        if (sample->type == Sample::EndOfStream) {
            side.ended = true;
            continue;
        }
        if (side.first && *side.first < 0)
            *side.first = sample->time;
        ++side.count;
        if (sample->type == Sample::Audio)
            audioNs += sample->duration;
    }
    return took;
}

bool ReaderHarness::drainToEnd(int timeoutMs)
{
    if (!reader.startReading())
        return false;
    audioEnded = audioEnded || !reader.getAudioStream();
    videoEnded = videoEnded || !reader.getVideoStream();
    QDeadlineTimer deadline(timeoutMs);
    while (!(audioEnded && videoEnded) && !deadline.hasExpired()) {
        // The end of the file reaches the streams through queued calls.
        QCoreApplication::processEvents();
        if (!takeSamples(audioEnded, videoEnded))
            QThread::usleep(200);
    }
    const bool ended = audioEnded && videoEnded;
    // Whatever comes next starts from a seek.
    audioEnded = videoEnded = false;
    return ended;
}

bool ReaderHarness::firstSamples(qint64& audioTime, qint64& videoTime, int timeoutMs)
{
    audioTime = -1;
    videoTime = -1;
    // A seek starts the streams again: their ends are still to come.
    audioEnded = false;
    videoEnded = false;
    const bool wantAudio = reader.getAudioStream() != nullptr;
    const bool wantVideo = reader.getVideoStream() != nullptr;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if ((!wantAudio || audioTime >= 0 || audioEnded) && (!wantVideo || videoTime >= 0 || videoEnded))
            return true;
        QCoreApplication::processEvents();
        if (!takeSamples(audioEnded, videoEnded, &audioTime, &videoTime))
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
        if (page.serial == serial && !page.bos) {
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

// Writes one packet as pages of at most segmentsPerPage lacing values each.
bool writePacket(QFile& out, const ogg_packet& packet, int serial, int segmentsPerPage, long& sequence)
{
    QByteArray lacing;
    for (long left = packet.bytes;; left -= 255) {
        lacing.append(char(left >= 255 ? 255 : left));
        if (left < 255)
            break;
    }
    long consumed = 0;
    for (int first = 0; first < lacing.size(); first += segmentsPerPage) {
        const QByteArray segments = lacing.mid(first, segmentsPerPage);
        long bodyBytes = 0;
        for (char value : segments)
            bodyBytes += static_cast<unsigned char>(value);
        const bool last = first + segments.size() == lacing.size();
        QByteArray header(27, '\0');
        header.replace(0, 4, "OggS");
        header[5] = char((first > 0 ? 1 : 0) | (packet.b_o_s && first == 0 ? 2 : 0) | (packet.e_o_s && last ? 4 : 0));
        const qint64 granule = last ? qint64(packet.granulepos) : -1;
        for (int i = 0; i < 8; ++i)
            header[6 + i] = char((quint64(granule) >> (8 * i)) & 0xff);
        for (int i = 0; i < 4; ++i) {
            header[14 + i] = char((quint32(serial) >> (8 * i)) & 0xff);
            header[18 + i] = char((quint32(sequence) >> (8 * i)) & 0xff);
        }
        header[26] = char(segments.size());
        header.append(segments);
        QByteArray body(reinterpret_cast<const char*>(packet.packet) + consumed, int(bodyBytes));
        consumed += bodyBytes;
        ogg_page page;
        page.header = reinterpret_cast<unsigned char*>(header.data());
        page.header_len = header.size();
        page.body = reinterpret_cast<unsigned char*>(body.data());
        page.body_len = body.size();
        ogg_page_checksum_set(&page);
        ++sequence;
        if (out.write(header) != header.size() || out.write(body) != body.size())
            return false;
    }
    return true;
}

} // namespace

bool repaginate(const QString& source, const QString& target, int serial, int segmentsPerPage)
{
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    ogg_stream_state in;
    ogg_stream_init(&in, serial);
    long sequence = 0;
    bool ok = true;
    for (QByteArray raw : Recording::pages(source)) {
        ogg_page page = Recording::asPage(raw);
        if (ogg_page_serialno(&page) != serial || ogg_stream_pagein(&in, &page) != 0)
            continue;
        ogg_packet packet;
        while (ok && ogg_stream_packetout(&in, &packet) == 1)
            ok = writePacket(out, packet, serial, segmentsPerPage, sequence);
    }
    ogg_stream_clear(&in);
    return ok;
}
