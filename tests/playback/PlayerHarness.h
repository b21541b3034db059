#pragma once

#include <QMediaPlayer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace Harbend {
class AudioChannelControl;
class PlayerControl;
class PlayerService;
} // namespace Harbend

namespace PlaybackTest {

// A QMediaPlayer over the engine's service provider, with the controls that
// the window reaches for.
struct PlayerHarness {
    PlayerHarness();
    ~PlayerHarness();

    std::unique_ptr<QMediaPlayer> player;
    Harbend::PlayerService* service = nullptr;
    Harbend::PlayerControl* control = nullptr;
    Harbend::AudioChannelControl* channels = nullptr;
};

// Generated recordings, made once per test run into a private folder.
class Recordings {
public:
    // The recording made with these make-recording arguments (cached by name).
    QString get(const QString& name, const QStringList& arguments);

private:
    QTemporaryDir folder;
};

// Threads of this process, from /proc.
int threadCount();
// Resident memory of this process in kB, from /proc.
qint64 residentKb();

} // namespace PlaybackTest
