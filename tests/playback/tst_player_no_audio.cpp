#include "PlayerHarness.h"

#include "Core/Multimedia/PlayerControl.h"

#include <QAudioDeviceInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace PlaybackTest;

// Runs with a plugin path that holds no audio plugin: there is no audio device.
class PlayerNoAudioTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void playsWithoutSound();

private:
    Recordings recordings;
};

void PlayerNoAudioTest::initTestCase()
{
    qRegisterMetaType<QMediaPlayer::State>();
    qRegisterMetaType<QMediaPlayer::MediaStatus>();
    QVERIFY(QAudioDeviceInfo::availableDevices(QAudio::AudioOutput).isEmpty());
}

void PlayerNoAudioTest::playsWithoutSound()
{
    PlayerHarness harness;
    QMediaPlayer* player = harness.player.get();
    QSignalSpy statuses(player, &QMediaPlayer::mediaStatusChanged);
    QSignalSpy states(player, &QMediaPlayer::stateChanged);
    QSignalSpy audio(player, &QMediaPlayer::audioAvailableChanged);
    QSignalSpy errors(player, QOverload<QMediaPlayer::Error>::of(&QMediaPlayer::error));
    const QString path = recordings.get("tone.ogg", {"--stream", "vorbis:channels=2,rate=44100", "--duration", "2"});
    player->setMedia(QMediaContent(QUrl::fromLocalFile(path)));
    player->play();
    QCOMPARE(statuses.size(), 3);
    QCOMPARE(statuses.at(2).at(0).value<QMediaPlayer::MediaStatus>(), QMediaPlayer::BufferedMedia);
    QCOMPARE(states.size(), 1);
    QCOMPARE(player->state(), QMediaPlayer::PlayingState);
    // The reader found the audio; the session switched it off again.
    QCOMPARE(audio.size(), 2);
    QCOMPARE(audio.at(1).at(0).toBool(), false);
    QVERIFY(!player->isAudioAvailable());
    QVERIFY(errors.isEmpty());
    player->setVolume(30);
    QCOMPARE(player->volume(), 30);
    player->stop();
    QCOMPARE(player->state(), QMediaPlayer::StoppedState);
}

int main(int argc, char** argv)
{
    QTemporaryDir noPlugins;
    QCoreApplication::setLibraryPaths({noPlugins.path()});
    QCoreApplication app(argc, argv);
    QCoreApplication::setLibraryPaths({noPlugins.path()});
    PlayerNoAudioTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_player_no_audio.moc"
