#include "Recording.h"

#include "Core/Base/Logger.h"
#include "Core/Decoder/AudioSample.h"
#include "Core/Decoder/OggStream.h"
#include "Core/Decoder/SampleQueue.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QThread>
#include <QVideoFrame>

#include <cmath>

#include <ogg/ogg.h>

using namespace Harbend;

namespace Recording {

QString make(const QString& folder, const QString& name, const QStringList& arguments, QString* error)
{
    const QString path = folder + "/" + name;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(HARBEND_BIN_DIR "/make-recording"), QStringList(arguments) << path);
    const bool finished = process.waitForFinished(120000);
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        if (error)
            *error = QString::fromUtf8(process.readAll());
        return QString();
    }
    return path;
}

QJsonObject manifest(const QString& recording)
{
    QFile file(recording + ".json");
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}

QJsonObject streamEntry(const QJsonObject& manifest, int serial)
{
    for (const QJsonValue& value : manifest.value("streams").toArray())
        if (value.toObject().value("serial").toInt() == serial)
            return value.toObject();
    return QJsonObject();
}

QVector<QByteArray> pages(const QString& path)
{
    QVector<QByteArray> result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QByteArray bytes = file.readAll();
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, bytes.size());
    memcpy(buffer, bytes.constData(), size_t(bytes.size()));
    ogg_sync_wrote(&sync, bytes.size());
    ogg_page page;
    for (;;) {
        const int found = ogg_sync_pageout(&sync, &page);
        if (found == 0)
            break;
        if (found < 0)
            continue;
        QByteArray raw(reinterpret_cast<const char*>(page.header), int(page.header_len));
        raw.append(reinterpret_cast<const char*>(page.body), int(page.body_len));
        result.append(raw);
    }
    ogg_sync_clear(&sync);
    return result;
}

Feeder::Feeder(int queueCapacity) : capacity(queueCapacity) {}

Feeder::~Feeder()
{
    for (auto& stream : streams)
        stream->deactivateStream();
}

ogg_page asPage(QByteArray& raw)
{
    ogg_page page;
    unsigned char* data = reinterpret_cast<unsigned char*>(raw.data());
    page.header = data;
    page.header_len = 27 + data[26];
    page.body = data + page.header_len;
    page.body_len = raw.size() - page.header_len;
    return page;
}

void Feeder::refeed(OggStream* stream, const QString& path)
{
    for (QByteArray raw : pages(path)) {
        ogg_page page = asPage(raw);
        if (!ogg_page_bos(&page) && ogg_page_serialno(&page) == stream->serialno)
            stream->putPage(&page);
    }
}

bool Feeder::feedFile(const QString& path, bool activate)
{
    bool allTaken = true;
    for (QByteArray raw : pages(path)) {
        ogg_page page = asPage(raw);
        const int serial = ogg_page_serialno(&page);
        if (ogg_page_bos(&page)) {
            QSharedPointer<OggStream> stream(new OggStream(serial));
            if (!stream->putPageBOS(&page)) {
                allTaken = false;
                continue;
            }
            streams.insert(serial, stream);
            queues.insert(serial, QSharedPointer<SampleQueue>(new SampleQueue(unsigned(capacity))));
            continue;
        }
        OggStream* stream = streams.value(serial).data();
        if (!stream)
            continue;
        if (!stream->putPage(&page))
            allTaken = false;
        if (!activated.contains(serial) && stream->streamInfo().headersMissing == 0) {
            // As the reader does: a stream is activated or deactivated once its
            // headers are in, so that its data never waits for a consumer.
            if (activate) {
                activated[serial] = stream->activateStream(queues.value(serial).data());
                allTaken = allTaken && activated[serial];
            } else {
                activated[serial] = false;
                stream->deactivateStream();
            }
        }
    }
    for (auto it = streams.begin(); it != streams.end(); ++it)
        if (activated.value(it.key()))
            it.value()->putEOSPacket();
    return allTaken;
}

OggStream* Feeder::stream(int serial) const { return streams.value(serial).data(); }

SampleQueue* Feeder::queue(int serial) const { return queues.value(serial).data(); }

bool Feeder::collect(int serial, QVector<QSharedPointer<Sample>>& samples, int timeoutMs)
{
    SampleQueue* sampleQueue = queue(serial);
    if (!sampleQueue)
        return false;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QSharedPointer<Sample> sample = sampleQueue->dequeueSample();
        if (!sample) {
            QThread::yieldCurrentThread();
            continue;
        }
        if (sample->type == Sample::EndOfStream)
            return true;
        samples.append(sample);
    }
    return false;
}

LogCapture::LogCapture()
    : path(QDir::tempPath() + QString("/harbend-log-%1.txt").arg(QCoreApplication::applicationPid()))
{
    clear();
}

LogCapture::~LogCapture()
{
    Logging::SystemLogger::get()->writer().close();
    QFile::remove(path);
}

bool LogCapture::contains(const QString& text) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return QString::fromUtf8(file.readAll()).contains(text);
}

void LogCapture::clear() { Logging::SystemLogger::get()->writer().openFile(QFile::encodeName(path).constData()); }

int pictureNumber(const QVideoFrame& source)
{
    QVideoFrame frame(source);
    if (!frame.map(QAbstractVideoBuffer::ReadOnly))
        return -1;
    const int cellWidth = frame.width() / 20;
    const int cellHeight = qMax(frame.height() / 12, 4);
    int number = 0;
    for (int bit = 0; bit < 20; ++bit) {
        const uchar luma = frame.bits()[(cellHeight / 2) * frame.bytesPerLine() + bit * cellWidth + cellWidth / 2];
        number = (number << 1) | (luma > 128 ? 1 : 0);
    }
    frame.unmap();
    return number;
}

QVector<float> channel(const QVector<QSharedPointer<Sample>>& samples, int channel)
{
    QVector<float> result;
    for (const auto& sample : samples) {
        if (sample->type != Sample::Audio)
            continue;
        const AudioSample* audio = static_cast<const AudioSample*>(sample.data());
        if (channel >= audio->channels)
            continue;
        const float* plane = audio->data + size_t(channel) * size_t(audio->frames);
        for (int i = 0; i < audio->frames; ++i)
            result.append(plane[i]);
    }
    return result;
}

double toneLevel(const QVector<float>& signal, int rate, double frequency)
{
    if (signal.isEmpty())
        return 0.0;
    const double omega = 2.0 * M_PI * frequency / rate;
    const double coefficient = 2.0 * std::cos(omega);
    double s1 = 0.0, s2 = 0.0;
    for (float x : signal) {
        const double s0 = x + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / signal.size();
}

} // namespace Recording
