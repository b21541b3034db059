#include "Core/Base/OggPacket.h"
#include "Core/Decoder/EOSSample.h"
#include "Core/Decoder/SampleQueue.h"
#include "Core/Decoder/SharedQueue.h"
#include "tests/base/TestWorker.h"

#include <QThread>
#include <QtTest>

#include <functional>
#include <limits>

using namespace Harbend;

typedef QSharedPointer<OggPacket> PacketPointer;
typedef SharedQueue<PacketPointer, 200> PacketQueue;

namespace {

const unsigned long kTimeout = 5000;
// How long a blocked call is watched to show that it stays blocked.
const unsigned long kStaysBlocked = 200;

PacketPointer packetWithNumber(qint64 number)
{
    PacketPointer packet(new OggPacket);
    packet->packetno = number;
    return packet;
}

QSharedPointer<Sample> sampleAt(qint64 time) { return QSharedPointer<Sample>(new Sample(Sample::Audio, time, 1)); }

} // namespace

class QueuesTest : public QObject {
    Q_OBJECT
private slots:
    void packetCopies();
    void dequeueWaitsForAnItemOrClose();
    void closedPacketQueueDropsAndYieldsNothing();
    void producerWaitsOnceAtTheLimit();
    void enqueueWithoutWaitNeverBlocks();
    void newSampleQueueIsClosed();
    void sampleProducerWaitsWhileFull();
    void sampleProducerReleasedByClose();
    void sampleConsumerNeverWaits();
    void clearKeepsTheQueueOpen();
};

void QueuesTest::packetCopies()
{
    unsigned char payload[] = {1, 2, 3, 4};
    ogg_packet source = {};
    source.packet = payload;
    source.bytes = 4;
    source.b_o_s = 256;
    source.e_o_s = 512;
    source.granulepos = 12345;
    source.packetno = 7;
    OggPacket copy(source);
    payload[0] = 9;
    QVERIFY(copy.packet && copy.packet != payload);
    QCOMPARE(copy.packet[0], (unsigned char)1);
    QCOMPARE(copy.bytes, 4L);
    QCOMPARE(copy.b_o_s, 256L);
    QCOMPARE(copy.e_o_s, 512L);
    QCOMPARE(copy.granulepos, ogg_int64_t(12345));
    QCOMPARE(copy.packetno, ogg_int64_t(7));
    QVERIFY(!copy.isEndOfStreamMarker());

    source.bytes = 0;
    OggPacket empty(source);
    QVERIFY(!empty.packet);
    QCOMPARE(empty.bytes, 0L);

    const PacketPointer marker = OggPacket::createEndOfStreamMarker();
    QVERIFY(!marker->packet);
    QCOMPARE(marker->e_o_s, 1024L);
    QCOMPARE(marker->granulepos, std::numeric_limits<ogg_int64_t>::max());
    QCOMPARE(marker->packetno, std::numeric_limits<ogg_int64_t>::max());
    QVERIFY(marker->isEndOfStreamMarker());
}

void QueuesTest::dequeueWaitsForAnItemOrClose()
{
    PacketQueue queue;
    PacketPointer received;
    TestWorker consumer([&] { received = queue.dequeue(); });
    consumer.start();
    QVERIFY(!consumer.wait(kStaysBlocked));
    queue.enqueue(packetWithNumber(5));
    QVERIFY(consumer.wait(kTimeout));
    QVERIFY(received);
    QCOMPARE(received->packetno, ogg_int64_t(5));

    bool gotNull = false;
    TestWorker second([&] { gotNull = queue.dequeue().isNull(); });
    second.start();
    QVERIFY(!second.wait(kStaysBlocked));
    queue.close();
    QVERIFY(second.wait(kTimeout));
    QVERIFY(gotNull);
}

void QueuesTest::closedPacketQueueDropsAndYieldsNothing()
{
    PacketQueue queue;
    queue.enqueue(packetWithNumber(1));
    queue.close();
    QVERIFY(queue.isClosedOrEmpty());
    QVERIFY(queue.dequeue().isNull());
    queue.enqueue(packetWithNumber(2));
    QVERIFY(!queue.enqueueWithoutWait(packetWithNumber(3)));
    QCOMPARE(queue.size(), 1);
    queue.open();
    QVERIFY(!queue.isClosedOrEmpty());
    QCOMPARE(queue.dequeue()->packetno, ogg_int64_t(1));
    QVERIFY(queue.isClosedOrEmpty());
}

void QueuesTest::producerWaitsOnceAtTheLimit()
{
    PacketQueue queue;
    for (int i = 0; i < 199; ++i)
        queue.enqueue(packetWithNumber(i));
    QCOMPARE(queue.size(), 199);

    TestWorker producer([&] {
        queue.enqueue(packetWithNumber(199));
        queue.enqueue(packetWithNumber(200));
    });
    producer.start();
    QVERIFY(!producer.wait(kStaysBlocked));
    QTRY_VERIFY_WITH_TIMEOUT(queue.producerWaits(), int(kTimeout));
    QCOMPARE(queue.size(), 200);
    // The consumer wakes it only once the queue has drained to half.
    for (int i = 0; i < 99; ++i)
        QCOMPARE(queue.dequeue()->packetno, ogg_int64_t(i));
    QVERIFY(!producer.wait(kStaysBlocked));
    QCOMPARE(queue.size(), 101);
    QCOMPARE(queue.dequeue()->packetno, ogg_int64_t(99));
    // After its one wake-up the producer goes on without waiting below the limit.
    QVERIFY(producer.wait(kTimeout));
    QCOMPARE(queue.size(), 101);

    // A clear releases a producer that waits at the limit.
    for (int i = 0; i < 98; ++i)
        queue.enqueue(packetWithNumber(i));
    TestWorker second([&] { queue.enqueue(packetWithNumber(300)); });
    second.start();
    QVERIFY(!second.wait(kStaysBlocked));
    queue.clear();
    QVERIFY(second.wait(kTimeout));
    QCOMPARE(queue.size(), 0);
}

void QueuesTest::enqueueWithoutWaitNeverBlocks()
{
    PacketQueue queue;
    for (int i = 0; i < 1000; ++i)
        QVERIFY(queue.enqueueWithoutWait(packetWithNumber(i)));
    QCOMPARE(queue.size(), 1000);
    QCOMPARE(queue.dequeue()->packetno, ogg_int64_t(0));
}

void QueuesTest::newSampleQueueIsClosed()
{
    SampleQueue queue(15);
    queue.addSample(sampleAt(1));
    QVERIFY(queue.dequeueSample().isNull());
    QCOMPARE(queue.size(), 0u);
    queue.open();
    queue.addSample(QSharedPointer<Sample>(new EOSSample));
    const QSharedPointer<Sample> end = queue.dequeueSample();
    QCOMPARE(end->type, int(Sample::EndOfStream));
    QCOMPARE(end->time, qint64(-1));
    QCOMPARE(end->duration, qint64(0));
}

void QueuesTest::sampleProducerWaitsWhileFull()
{
    SampleQueue queue(15);
    queue.open();
    for (int i = 0; i < 15; ++i)
        queue.addSample(sampleAt(i));
    TestWorker producer([&] { queue.addSample(sampleAt(15)); });
    producer.start();
    QVERIFY(!producer.wait(kStaysBlocked));
    QCOMPARE(queue.size(), 15u);
    QCOMPARE(queue.dequeueSample()->time, qint64(0));
    QVERIFY(producer.wait(kTimeout));
    QCOMPARE(queue.size(), 15u);
    for (int i = 1; i <= 15; ++i)
        QCOMPARE(queue.dequeueSample()->time, qint64(i));
}

void QueuesTest::sampleProducerReleasedByClose()
{
    SampleQueue queue(2);
    queue.open();
    queue.addSample(sampleAt(0));
    queue.addSample(sampleAt(1));
    TestWorker producer([&] { queue.addSample(sampleAt(2)); });
    producer.start();
    QVERIFY(!producer.wait(kStaysBlocked));
    queue.close();
    QVERIFY(producer.wait(kTimeout));
    QCOMPARE(queue.size(), 2u);
    QVERIFY(queue.dequeueSample().isNull());
    queue.open();
    QCOMPARE(queue.dequeueSample()->time, qint64(0));
    QCOMPARE(queue.dequeueSample()->time, qint64(1));
    QVERIFY(queue.dequeueSample().isNull());
}

void QueuesTest::sampleConsumerNeverWaits()
{
    SampleQueue queue(80);
    queue.open();
    int nulls = 0;
    TestWorker consumer([&] {
        for (int i = 0; i < 1000; ++i)
            nulls += queue.dequeueSample().isNull() ? 1 : 0;
    });
    consumer.start();
    QVERIFY(consumer.wait(kTimeout));
    QCOMPARE(nulls, 1000);
}

void QueuesTest::clearKeepsTheQueueOpen()
{
    SampleQueue queue(15);
    queue.open();
    for (int i = 0; i < 5; ++i)
        queue.addSample(sampleAt(i));
    queue.clear();
    QCOMPARE(queue.size(), 0u);
    queue.addSample(sampleAt(9));
    QCOMPARE(queue.dequeueSample()->time, qint64(9));
}

QTEST_GUILESS_MAIN(QueuesTest)
#include "tst_queues.moc"
