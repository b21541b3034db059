// Opening a recording that a tail of zeros follows (what a recorder leaves
// after a crash, or when it preallocates its file): for each tail, the median
// time of open() and the first read() (discovery with the start and end
// scans) over five runs, and the bytes read from the file. With --sparse the
// tail is a hole in a file on disk (its folder: TMPDIR), so that tails of
// gigabytes can be measured.
//
//   bench_reader_open [--sparse] FILE [TAIL_MB...]     (tails 0 4 16 32 by default)

#include "Core/Decoder/OggReader.h"
#include "Core/Multimedia/MetaDataControl.h"
#include "tests/streams/CountingBuffer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>
#include <memory>

using namespace Harbend;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const bool sparse = !arguments.isEmpty() && arguments.first() == QLatin1String("--sparse");
    if (sparse)
        arguments.removeFirst();
    if (arguments.isEmpty()) {
        std::fprintf(stderr, "usage: bench_reader_open [--sparse] FILE [TAIL_MB...]\n");
        return 2;
    }
    QFile file(arguments.takeFirst());
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray recording = file.readAll();
    if (arguments.isEmpty())
        arguments = QStringList{"0", "4", "16", "32"};
    QTemporaryFile onDisk;
    if (sparse && (!onDisk.open() || onDisk.write(recording) != recording.size() || !onDisk.flush()))
        return 1;
    std::printf("%8s %12s %14s %10s\n", "tail MB", "open ms", "bytes read", "end ms");
    for (const QString& tail : arguments) {
        const qint64 tailBytes = tail.toLongLong() << 20;
        QByteArray bytes = sparse ? QByteArray() : recording + QByteArray(int(tailBytes), '\0');
        if (sparse && !onDisk.resize(recording.size() + tailBytes))
            return 1;
        QVector<qint64> times;
        qint64 bytesRead = 0;
        qint64 end = -1;
        for (int run = 0; run < 5; ++run) {
            std::unique_ptr<CountingBuffer> buffer(sparse ? nullptr : new CountingBuffer(&bytes));
            std::unique_ptr<CountingFile> disk(sparse ? new CountingFile(onDisk.fileName()) : nullptr);
            MetaDataControl metaData(nullptr);
            OggReader reader(&metaData, nullptr);
            QElapsedTimer clock;
            clock.start();
            const bool opened = reader.open(sparse ? static_cast<QIODevice*>(disk.get()) : buffer.get()) &&
                                reader.read();
            times.append(clock.elapsed());
            bytesRead = sparse ? disk->bytesRead : buffer->bytesRead;
            end = opened ? reader.getEndTime() : -1;
            reader.close();
        }
        std::sort(times.begin(), times.end());
        std::printf("%8lld %12lld %14lld %10lld\n", tail.toLongLong(), static_cast<long long>(times.at(2)),
                    static_cast<long long>(bytesRead), static_cast<long long>(end));
    }
    return 0;
}
