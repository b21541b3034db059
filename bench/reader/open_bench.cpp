// Opening a recording that a tail of zeros follows (what a recorder leaves
// after a crash): for each tail, the median time of open() and the first
// read() (discovery with the start and end scans) over five runs, and the
// bytes read from the file.
//
//   bench_reader_open FILE [TAIL_MB...]     (tails 0 4 16 32 by default)

#include "Core/Decoder/OggReader.h"
#include "Core/Multimedia/MetaDataControl.h"
#include "tests/streams/CountingBuffer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>

using namespace Harbend;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    if (arguments.isEmpty()) {
        std::fprintf(stderr, "usage: bench_reader_open FILE [TAIL_MB...]\n");
        return 2;
    }
    QFile file(arguments.takeFirst());
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray recording = file.readAll();
    if (arguments.isEmpty())
        arguments = QStringList{"0", "4", "16", "32"};
    std::printf("%8s %12s %14s %10s\n", "tail MB", "open ms", "bytes read", "end ms");
    for (const QString& tail : arguments) {
        QByteArray bytes = recording + QByteArray(tail.toInt() << 20, '\0');
        QVector<qint64> times;
        qint64 bytesRead = 0;
        qint64 end = -1;
        for (int run = 0; run < 5; ++run) {
            CountingBuffer buffer(&bytes);
            MetaDataControl metaData(nullptr);
            OggReader reader(&metaData, nullptr);
            QElapsedTimer clock;
            clock.start();
            const bool opened = reader.open(&buffer) && reader.read();
            times.append(clock.elapsed());
            bytesRead = buffer.bytesRead;
            end = opened ? reader.getEndTime() : -1;
            reader.close();
        }
        std::sort(times.begin(), times.end());
        std::printf("%8d %12lld %14lld %10lld\n", tail.toInt(), static_cast<long long>(times.at(2)),
                    static_cast<long long>(bytesRead), static_cast<long long>(end));
    }
    return 0;
}
