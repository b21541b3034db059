#include "PlayerHarness.h"

#include "Core/Multimedia/PlayerControl.h"
#include "tests/TestMain.h"

#include <QAudioDeviceInfo>
#include <QtTest>

#include <atomic>
#include <cstdlib>

using namespace PlaybackTest;

// The heap of this process refuses, while armed, the first buffer of a
// phase vocoder at 2x (frames of 4096, synthesis hops of 512), as an
// exhausted heap would. Everything else goes to the C library's allocator.
extern "C" void* __libc_malloc(std::size_t size);

namespace {
const std::size_t kVocoderBuffer = (5 * 4096 + 4096 / 8) * sizeof(float);
// Memory::allocate asks for a few bytes more than the block for alignment.
const std::size_t kAlignmentSlack = 64;
std::atomic<bool> refusing{false};
std::atomic<int> refused{0};

struct Refusal {
    Refusal() { refusing = true; }
    ~Refusal() { refusing = false; }
};
} // namespace

extern "C" void* malloc(std::size_t size)
{
    if (refusing.load(std::memory_order_relaxed) && size >= kVocoderBuffer &&
        size <= kVocoderBuffer + kAlignmentSlack) {
        refused.fetch_add(1);
        return nullptr;
    }
    return __libc_malloc(size);
}

// The position moves on (the null sink may take a while to wake up).
static void expectPlaysOn(QMediaPlayer* player)
{
    const qint64 from = player->position();
    QTRY_VERIFY_WITH_TIMEOUT(player->position() > from + 300, 8000);
}

class PlayerRefusedVocoderTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void rateChangeWithoutVocoderStopsPlayback();
    void storedRateWithoutVocoderDoesNotStart();

private:
    QString tone();
    Recordings recordings;
};

void PlayerRefusedVocoderTest::initTestCase()
{
    qRegisterMetaType<QMediaPlayer::State>();
    if (QAudioDeviceInfo::availableDevices(QAudio::AudioOutput).isEmpty())
        QSKIP("no audio output device");
}

QString PlayerRefusedVocoderTest::tone()
{
    return recordings.get("tone.ogg",
                          {"--stream", "vorbis:channels=1,rate=44100,base=1000,level=0.2", "--duration", "20"});
}

// The change fails at once and stops playback; it never goes on in silence
// at the requested rate.
void PlayerRefusedVocoderTest::rateChangeWithoutVocoderStopsPlayback()
{
    PlayerHarness harness;
    QMediaPlayer* player = harness.player.get();
    player->setMedia(QMediaContent(QUrl::fromLocalFile(tone())));
    player->play();
    QCOMPARE(player->state(), QMediaPlayer::PlayingState);
    refused = 0;
    {
        Refusal refusal;
        player->setPlaybackRate(2.0);
    }
    QVERIFY(refused.load() > 0);
    QCOMPARE(player->state(), QMediaPlayer::StoppedState);
    QCOMPARE(player->playbackRate(), 1.0);
    QCOMPARE(player->position(), qint64(-1));

    // With the heap back the same rate plays.
    player->setPlaybackRate(2.0);
    player->play();
    QCOMPARE(player->state(), QMediaPlayer::PlayingState);
    expectPlaysOn(player);
    player->stop();
}

// A rate chosen while stopped that the next play cannot take: that play does
// not start (no playing state over paused threads), and the next one does.
void PlayerRefusedVocoderTest::storedRateWithoutVocoderDoesNotStart()
{
    PlayerHarness harness;
    QMediaPlayer* player = harness.player.get();
    QSignalSpy states(player, &QMediaPlayer::stateChanged);
    player->setMedia(QMediaContent(QUrl::fromLocalFile(tone())));
    // A playback first, so that the audio system's own threads are up.
    player->play();
    QCOMPARE(player->state(), QMediaPlayer::PlayingState);
    player->stop();
    states.clear();
    player->setPlaybackRate(2.0);
    const int threadsBefore = threadCount();
    refused = 0;
    {
        Refusal refusal;
        player->play();
    }
    QVERIFY(refused.load() > 0);
    QCOMPARE(player->state(), QMediaPlayer::StoppedState);
    QVERIFY(states.isEmpty());
    // Nothing of the failed start runs on. The audio system may end one of its
    // own idle threads meanwhile, so fewer threads than before is fine.
    QTRY_VERIFY_WITH_TIMEOUT(threadCount() <= threadsBefore, 5000);

    player->play();
    QCOMPARE(player->state(), QMediaPlayer::PlayingState);
    QCOMPARE(player->playbackRate(), 2.0);
    expectPlaysOn(player);
    player->stop();
}

HARBEND_TEST_MAIN(PlayerRefusedVocoderTest)
#include "tst_player_refused_vocoder.moc"
