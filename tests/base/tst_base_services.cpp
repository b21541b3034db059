#include "Core/Base/GainFromVolume.h"
#include "Core/Base/Logger.h"
#include "Core/Base/Memory.h"
#include "Core/Base/Processor.h"
#include "Core/Decoder/AudioSample.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdint>
#include <cstring>

using namespace Harbend;

namespace {

// Runs a piece of code with the system logger writing to a file, and returns the lines.
template <class Body>
QList<QByteArray> loggedLines(Body body)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log"));
    auto& writer = Logging::SystemLogger::get()->writer();
    writer.openFile(QFile::encodeName(path).constData());
    body();
    writer.close();
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QList<QByteArray> lines = file.readAll().split('\n');
    lines.removeAll(QByteArray());
    return lines;
}

QByteArray messageOf(const QByteArray& line) { return line.mid(line.indexOf("] ") + 2); }

QByteArray tidy(const char* text)
{
    char brand[48] = {};
    std::strncpy(brand, text, 48);
    Processor::tidyBrandString(brand);
    return QByteArray(brand, 48);
}

} // namespace

class BaseServicesTest : public QObject {
    Q_OBJECT
private slots:
    void detectionOnThisMachine();
    void featureListLine();
    void missingSseIsWarned();
    void brandStringIsTidied();
    void overrideReplacesTheFlags();
    void blocksAreAlignedAndFreed();
    void oversizedRequestsAreRefused();
    void audioSampleSizes();
    void gainCurve_data();
    void gainCurve();
};

void BaseServicesTest::detectionOnThisMachine()
{
    const QList<QByteArray> lines = loggedLines([] { Processor::initialize(); });
    QVERIFY(Processor::has(Processor::SSE));
    QVERIFY(Processor::has(Processor::SSE2));
    QVERIFY(Processor::has(Processor::MMX));
    QVERIFY(!(Processor::ms_instance.flags & 1));
    QVERIFY(lines.size() >= 3);
    QCOMPARE(messageOf(lines[0]), QByteArray("Checking processor capabilities..."));
    QVERIFY(messageOf(lines[1]).startsWith("Found "));
    QVERIFY(!messageOf(lines[1]).startsWith("Found  "));
    QVERIFY(messageOf(lines[1]).contains(" processor (family "));
    const QByteArray list = messageOf(lines.last());
    QVERIFY(list.startsWith("Processor supported instruction sets: MMX, SSE, SSE2"));
    QVERIFY(list.endsWith("."));
    QVERIFY(!list.endsWith(", ."));
    for (const QByteArray& line : lines)
        QVERIFY2(line.contains("[Core/Base/Processor("), line.constData());
}

void BaseServicesTest::featureListLine()
{
    Processor::overrideFlags(0);
    const Processor::Registers mmxSseSse2 = {(1u << 23) | (1u << 25) | (1u << 26), 0, 0, false};
    const QList<QByteArray> lines = loggedLines([&] { Processor::addFeatures(mmxSseSse2); });
    QCOMPARE(Processor::ms_instance.flags, 0xEu);
    QCOMPARE(lines.size(), 1);
    QCOMPARE(messageOf(lines[0]), QByteArray("Processor supported instruction sets: MMX, SSE, SSE2."));

    // AMD's MMX extensions count only on AMD; 3DNow! on any vendor.
    Processor::overrideFlags(0);
    const Processor::Registers extended = {0, (1u << 19) | (1u << 20), (1u << 31) | (1u << 22), false};
    loggedLines([&] { Processor::addFeatures(extended); });
    QCOMPARE(Processor::ms_instance.flags, unsigned(Processor::SSE41 | Processor::SSE42 | Processor::AMD3DNow));
    Processor::addFeatures({0, 0, 1u << 22, true});
    QVERIFY(Processor::has(Processor::AMDMMXExt));
    Processor::initialize();
}

void BaseServicesTest::missingSseIsWarned()
{
    Processor::overrideFlags(0);
    const QList<QByteArray> lines = loggedLines([] { Processor::addFeatures({1u << 23, 0, 0, false}); });
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[0].contains(":: WARNING ::"));
    QCOMPARE(messageOf(lines[0]),
             QByteArray("Your CPU does not support SSE, some accelerated conversion rutines might not work."));
    QCOMPARE(messageOf(lines[1]),
             QByteArray("Your CPU does not support SSE2, some accelerated conversion rutines might not work."));
    QCOMPARE(messageOf(lines[2]), QByteArray("Processor supported instruction sets: MMX."));

    const QList<QByteArray> none = loggedLines([] { Processor::addFeatures({0, 0, 0, false}); });
    QCOMPARE(none.size(), 2); // the two warnings, no list line
    Processor::initialize();
}

void BaseServicesTest::brandStringIsTidied()
{
    QCOMPARE(tidy("  Intel(R)  Core(TM)  i7").constData(), "Intel(R) Core(TM) i7");
    QCOMPARE(tidy("Some CPU    ").constData(), "Some CPU ");
    QCOMPARE(tidy("").constData(), "");
    QByteArray full = tidy("  A  B");
    QCOMPARE(full.count('\0'), 48 - 3);
}

void BaseServicesTest::overrideReplacesTheFlags()
{
    const unsigned detected = Processor::ms_instance.flags;
    Processor::overrideFlags(Processor::MMX);
    QVERIFY(!Processor::has(Processor::SSE2));
    Processor::overrideFlags(detected);
    QVERIFY(Processor::has(Processor::SSE2));
}

void BaseServicesTest::blocksAreAlignedAndFreed()
{
    QList<void*> blocks;
    for (std::size_t size : {std::size_t(0), std::size_t(1), std::size_t(15), std::size_t(16), std::size_t(17),
                             std::size_t(4096), std::size_t(1) << 20}) {
        for (int repeat = 0; repeat < 16; ++repeat) {
            void* block = Memory::allocate(size + std::size_t(repeat));
            QVERIFY(block);
            QCOMPARE(reinterpret_cast<std::uintptr_t>(block) % 16, std::uintptr_t(0));
            const unsigned distance = static_cast<unsigned char*>(block)[-1];
            QVERIFY(distance >= 2 && distance <= 17);
            std::memset(block, 0xAB, size + std::size_t(repeat));
            blocks << block;
        }
    }
    for (void* block : blocks)
        Memory::free(block);
}

void BaseServicesTest::oversizedRequestsAreRefused()
{
    QVERIFY(!Memory::allocate(SIZE_MAX));
    QVERIFY(!Memory::allocate(SIZE_MAX - 16));
}

void BaseServicesTest::audioSampleSizes()
{
    AudioSample sample;
    QVERIFY(sample.allocate(13, 960));
    QCOMPARE(sample.channels, 13);
    QCOMPARE(sample.frames, 960);
    QCOMPARE(reinterpret_cast<std::uintptr_t>(sample.data) % 16, std::uintptr_t(0));
    sample.data[13 * 960 - 1] = 1.0f;
    QVERIFY(!sample.allocate(-1, 10));
    QVERIFY(!sample.data);
    QVERIFY(!sample.allocate(0x7fffffff, 0x7fffffff));
    QCOMPARE(sample.type, int(Sample::Audio));
}

void BaseServicesTest::gainCurve_data()
{
    QTest::addColumn<int>("volume");
    QTest::addColumn<float>("gain");
    QTest::newRow("-5") << -5 << 0.0f;
    QTest::newRow("0") << 0 << 0.0f;
    QTest::newRow("1") << 1 << 0.000575f;
    QTest::newRow("50") << 50 << 0.095f;
    QTest::newRow("75") << 75 << 0.3137f;
    QTest::newRow("90") << 90 << 0.6300f;
    QTest::newRow("99") << 99 << 0.9549f;
    QTest::newRow("100") << 100 << 1.0f;
    QTest::newRow("250") << 250 << 1.0f;
}

void BaseServicesTest::gainCurve()
{
    QFETCH(int, volume);
    QFETCH(float, gain);
    QVERIFY2(qAbs(gainFromVolume(volume) - gain) < 2e-4f, qPrintable(QString::number(gainFromVolume(volume))));
    QVERIFY(gainFromVolume(volume) >= 0.0f && gainFromVolume(volume) <= 1.0f);
    QCOMPARE(gainFromVolume(250), gainFromVolume(100));
}

QTEST_GUILESS_MAIN(BaseServicesTest)
#include "tst_base_services.moc"
