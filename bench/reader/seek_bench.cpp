// Seek cost of the Ogg reader: for each recording, 100 random seeks (fixed
// seed), each timed from the pause of the streams to the return of seek(),
// with the bytes and pages that the search read (median and worst); beside
// them the median bytes that ffmpeg reads from the file to start decoding at
// the same targets.
//
//   bench_reader_seek [--seeks N] [--ffmpeg-seeks N] FILE...

#include "Core/Decoder/OggReader.h"
#include "Core/Multimedia/MetaDataControl.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace Harbend;

namespace {

template <class T>
T median(QVector<T> values)
{
    if (values.isEmpty())
        return T();
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// Bytes ffmpeg reads from the file to decode one frame at the target, by
// summing its reads of that file as strace reports them.
qint64 ffmpegBytes(const QString& path, qint64 targetMs, bool hasVideo, const QString& traceFile)
{
    QProcess process;
    const QString seconds = QString::number(double(targetMs) / 1000.0, 'f', 3);
    process.start("strace",
                  {"-f", "-y", "-e", "trace=read,pread64", "-o", traceFile, "ffmpeg", "-nostdin", "-v", "error", "-ss",
                   seconds, "-i", path, hasVideo ? "-frames:v" : "-frames:a", "1", "-f", "null", "-"});
    if (!process.waitForFinished(120000))
        return -1;
    QFile trace(traceFile);
    if (!trace.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray name = QFileInfo(path).fileName().toUtf8();
    static const QRegularExpression result("= (\\d+)\\s*$");
    qint64 total = 0;
    while (!trace.atEnd()) {
        const QByteArray line = trace.readLine();
        if (!line.contains(name))
            continue;
        const QRegularExpressionMatch match = result.match(QString::fromLatin1(line));
        if (match.hasMatch())
            total += match.captured(1).toLongLong();
    }
    return total;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    int seeks = 100;
    int ffmpegSeeks = 100;
    while (arguments.size() >= 2 && arguments.first().startsWith("--")) {
        const QString option = arguments.takeFirst();
        const int value = arguments.takeFirst().toInt();
        if (option == "--seeks")
            seeks = value;
        else if (option == "--ffmpeg-seeks")
            ffmpegSeeks = value;
    }
    if (arguments.isEmpty()) {
        std::fprintf(stderr, "usage: bench_reader_seek [--seeks N] [--ffmpeg-seeks N] FILE...\n");
        return 2;
    }
    QTemporaryDir traces;
    std::printf("%-24s %11s %5s %11s %10s %10s %9s %9s %13s %10s\n", "file", "bytes", "seeks", "bytes/seek",
                "max bytes", "pages/seek", "max pages", "us/seek", "ffmpeg bytes", "vs ffmpeg");
    for (const QString& path : arguments) {
        QFile file(path);
        MetaDataControl metaData(nullptr);
        OggReader reader(&metaData, nullptr);
        if (!reader.open(&file) || !reader.read() || !reader.startReading()) {
            std::fprintf(stderr, "cannot play %s\n", qPrintable(path));
            return 1;
        }
        const bool hasVideo = reader.getVideoStream() != nullptr;
        QRandomGenerator random(2024);
        QVector<qint64> targets;
        const qint64 start = std::max<qint64>(0, reader.getStartTime());
        for (int i = 0; i < seeks; ++i)
            targets.append(start + qint64(random.bounded(double(reader.getEndTime() - start))));
        QVector<qint64> bytes, pages, micros;
        for (qint64 target : targets) {
            QElapsedTimer timer;
            timer.start();
            reader.preSeek();
            if (reader.seek(target) < 0) {
                std::fprintf(stderr, "seek to %lld failed in %s\n", (long long)target, qPrintable(path));
                return 1;
            }
            micros.append(timer.nsecsElapsed() / 1000);
            bytes.append(reader.lastSeekBytes());
            pages.append(reader.lastSeekPages());
        }
        reader.close();
        QVector<qint64> ffmpeg;
        for (int i = 0; i < std::min(ffmpegSeeks, int(targets.size())); ++i)
            ffmpeg.append(ffmpegBytes(path, targets.at(i), hasVideo, traces.filePath("trace.txt")));
        const qint64 theirs = median(ffmpeg);
        std::printf("%-24s %11lld %5d %11lld %10lld %10lld %9lld %9lld %13lld %10.2f\n",
                    qPrintable(QFileInfo(path).fileName()), (long long)QFileInfo(path).size(), int(targets.size()),
                    (long long)median(bytes), (long long)*std::max_element(bytes.begin(), bytes.end()),
                    (long long)median(pages), (long long)*std::max_element(pages.begin(), pages.end()),
                    (long long)median(micros), (long long)theirs,
                    theirs > 0 ? double(median(bytes)) / double(theirs) : 0.0);
        std::fflush(stdout);
    }
    return 0;
}
