#pragma once

#include <QJsonObject>
#include <QMap>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QVector>

#include <ogg/ogg.h>

class QVideoFrame;

namespace Harbend {
class OggStream;
class SampleQueue;
class Sample;
} // namespace Harbend

// Test recordings: made by make-recording into a folder, read back page by
// page into stream objects the way the reader feeds them.
namespace Recording {

// Runs make-recording; the path of the recording, or an empty text (with the
// tool's output in error) when it failed.
QString make(const QString& folder, const QString& name, const QStringList& arguments, QString* error = nullptr);

// The manifest written beside a recording.
QJsonObject manifest(const QString& recording);
// The manifest's entry for a serial number.
QJsonObject streamEntry(const QJsonObject& manifest, int serial);

// Every page of a file, as raw bytes, in file order (damaged bytes skipped as
// libogg skips them).
QVector<QByteArray> pages(const QString& path);

// A page over raw page bytes (which must outlive it).
ogg_page asPage(QByteArray& raw);

// Streams fed from a file: each beginning-of-stream page makes an OggStream;
// a stream is activated on its own sample queue (or, when not asked to,
// deactivated) as soon as its headers are complete. Data packets on the page
// that completes the headers queue before the activation, as with the reader.
class Feeder {
public:
    explicit Feeder(int queueCapacity = 1000000);
    ~Feeder();

    // Feeds every page; then the end-of-stream marker to each active stream.
    // False when a page was refused.
    bool feedFile(const QString& path, bool activate = true);

    // Feeds a stream its own pages of a file again (after a seek), and no BOS page.
    static void refeed(Harbend::OggStream* stream, const QString& path);

    Harbend::OggStream* stream(int serial) const;
    Harbend::SampleQueue* queue(int serial) const;
    QList<int> serials() const { return streams.keys(); }

    // Samples of a stream up to its end-of-stream sample (not included);
    // false when that sample did not come within the timeout.
    bool collect(int serial, QVector<QSharedPointer<Harbend::Sample>>& samples, int timeoutMs = 20000);

private:
    QMap<int, QSharedPointer<Harbend::OggStream>> streams;
    QMap<int, QSharedPointer<Harbend::SampleQueue>> queues;
    QMap<int, bool> activated;
    int capacity;
};

// Captures the system log into a file for the lifetime of the object.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    // Whether a line logged so far contains the text; clear() forgets them.
    bool contains(const QString& text) const;
    void clear();

private:
    QString path;
};

// The number that make-recording draws into a picture's top row of 20 cells
// (most significant bit first, white 1); -1 when the frame cannot be read.
int pictureNumber(const QVideoFrame& frame);

// Concatenates the planes of one channel from a run of audio samples.
QVector<float> channel(const QVector<QSharedPointer<Harbend::Sample>>& samples, int channel);

// Level of a frequency in a signal (amplitude of the sine, by Goertzel).
double toneLevel(const QVector<float>& signal, int rate, double frequency);

} // namespace Recording
