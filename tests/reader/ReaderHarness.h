#pragma once

#include "Core/Decoder/OggReader.h"
#include "Core/Multimedia/MetaDataControl.h"

#include <QFile>
#include <QJsonObject>
#include <QString>
#include <QVector>

#include <condition_variable>
#include <mutex>
#include <thread>

// Ends the test program when a step does not finish in time, so that a hang
// is reported as one instead of stalling the suite.
class Watchdog {
public:
    Watchdog(int timeoutMs, const char* what);
    ~Watchdog();

private:
    std::mutex mutex;
    std::condition_variable condition;
    bool done = false;
    std::thread thread;
};

// A reader over one recording file, with its metadata control.
struct ReaderHarness {
    explicit ReaderHarness(const QString& path);
    ~ReaderHarness();

    // open() and the first read() that discovers the streams.
    bool openAndDiscover();

    // Takes samples as the output threads would, until every current
    // stream's end-of-stream sample (one taken already by firstSamples
    // counts); false when one did not come in time.
    bool drainToEnd(int timeoutMs = 30000);
    // Waits for the first sample of each current stream after a seek; a
    // stream whose end comes first has no first sample (time -1).
    bool firstSamples(qint64& audioTime, qint64& videoTime, int timeoutMs = 10000);

    QFile file;
    Harbend::MetaDataControl metaData;
    Harbend::OggReader reader;
    int audioSamples = 0;
    int videoSamples = 0;
    qint64 audioNs = 0; // audio taken, in ns

private:
    // End-of-stream samples taken since the last seek.
    bool audioEnded = false;
    bool videoEnded = false;

    // One pass over both sample queues; true when something was taken.
    bool takeSamples(bool& audioEnded, bool& videoEnded, qint64* audioFirst = nullptr, qint64* videoFirst = nullptr);
};

// Page entries of a manifest, in file order.
struct ManifestPage {
    qint64 offset;
    qint64 bytes;
    int serial;
    qint64 granule;
    bool bos;
    bool continued;
    bool header;
    qint64 timeMs;
};
QVector<ManifestPage> manifestPages(const QJsonObject& manifest);
// The same read from the file itself (timeMs and header unknown: -1, false).
QVector<ManifestPage> scanPages(const QString& path);

// Writes one logical stream of a recording alone, every packet on pages of
// its own with at most segmentsPerPage lacing values (of 255 bytes) each.
bool repaginate(const QString& source, const QString& target, int serial, int segmentsPerPage);

// Writes a copy of a recording in which the pages of one serial number (all
// but its first) come only after a number of data pages of the others.
bool delayHeaders(const QString& source, const QString& target, int serial, int afterDataPages);
