// The reader on a whole file, with its threads: discovery, the duration scans,
// reading and decoding to the end, and a few seeks.
#include "Core/Decoder/OggReader.h"
#include "Core/Decoder/Sample.h"
#include "Core/Multimedia/MetaDataControl.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <cstdint>

using namespace Harbend;

namespace {

// How long one input may take its samples; a file whose streams end never
// is caught by the fuzzer's own time limit on the calls that must return.
const int kDrainMs = 3000;

// Takes samples as the output threads do until every current stream has
// given its end-of-stream sample, or samples enough, or the time is up.
void takeSamples(OggReader& reader, int wanted)
{
    bool audioEnded = !reader.getAudioStream();
    bool videoEnded = !reader.getVideoStream();
    const QDeadlineTimer deadline(kDrainMs);
    int taken = 0;
    while (!(audioEnded && videoEnded) && taken < wanted && !deadline.hasExpired()) {
        // The end of the file reaches the streams through queued calls.
        QCoreApplication::processEvents();
        bool took = false;
        for (bool audio : {true, false}) {
            bool& ended = audio ? audioEnded : videoEnded;
            if (ended)
                continue;
            const QSharedPointer<Sample> sample =
                (audio ? reader.getAudioQueue() : reader.getVideoQueue())->dequeueSample();
            if (!sample)
                continue;
            took = true;
            ++taken;
            ended = sample->type == Sample::EndOfStream;
        }
        if (!took)
            QThread::usleep(100);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    QBuffer file(&bytes);
    MetaDataControl metaData(nullptr);
    OggReader reader(&metaData, nullptr);
    if (reader.open(&file) && reader.read() && reader.startReading()) {
        takeSamples(reader, 1 << 20);
        const qint64 start = std::max<qint64>(0, reader.getStartTime());
        const qint64 end = std::max(start, reader.getEndTime());
        // Seeks chosen by the input's last byte, then to the end and the start;
        // from the last one the file is read to its end again. A failed seek
        // stops playback, as in the player.
        const int pick = size ? data[size - 1] : 0;
        const qint64 targets[] = {start + (end - start) * (pick % 7) / 6, end, start};
        for (const qint64& target : targets) {
            reader.preSeek();
            if (reader.seek(target) < 0)
                break;
            takeSamples(reader, &target == &targets[2] ? 1 << 20 : 4);
        }
    }
    reader.close();
    return 0;
}
