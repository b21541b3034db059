#include "Annotations/Adnotacje.h"
#include "Core/Multimedia/AudioChannelControl.h"
#include "Core/Output/VideoWidget.h"
#include "Gui/ChannelControlWidget.h"
#include "Gui/PosTimeEdit.h"
#include "Gui/Settings.h"
#include "Gui/TimeEditSlider.h"
#include "Gui/WMediaPlayer.h"
#include "Gui/WPlayer.h"
#include "ModalAnswer.h"

#include "tests/TestMain.h"
#include "tests/annotations/ScriptedDialogs.h"
#include "tests/playback/PlaybackTestSupport.h"
#include "tests/streams/Recording.h"

#include <QCheckBox>
#include <QComboBox>
#include <QMenu>

#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

#include <csignal>
#include <functional>
#include <memory>

using PlaybackTest::SinkRecorder;

namespace {

const double kToneHz = 440.0;

QImage face(const QIcon& icon) { return icon.pixmap(20, 20).toImage(); }
QImage face(const char* resource) { return face(QIcon(QString::fromLatin1(resource))); }

} // namespace

class PlayerPlayingTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void mediaWidgetDrivesThePlayer();
    void windowPlaysARecording();
    void invalidRecording();
    void endOfTheRecording();
    void windingIntoTheEndStaysStopped();
    void clicksOnStopMillisecondsApart_data();
    void clicksOnStopMillisecondsApart();
    void unsupportedPicturesAreToldWhileTheSoundPlays();
    void recordingGivenByARelativePath();
    void followModeLeavesTheMenuItsAnnotation();
    void hostPlaysAndEndsCleanly();
    void hostOpensTheFirstRecordingOfItsFolder();
    void hostEndsOnASignalWhileABoxIsOpen();

private:
    QTemporaryDir config;
    QTemporaryDir folder;
    QTranslator polish;
    QString recording;
    QString shortRecording;
    SinkRecorder sink;
    std::unique_ptr<WPlayer> window;

    template <class T>
    T* child(const char* name) const
    {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    WMediaPlayer* media() const { return child<WMediaPlayer>("widgetMediaPlayer"); }
    qint64 position() const { return media()->getMediaPlayer()->position(); }
    double soundLevel()
    {
        sink.restart();
        return PlaybackTest::rms(sink.take(PlaybackTest::kSinkRate / 4));
    }
    void openAndWaitForPlaying(const QString& path);
};

void PlayerPlayingTest::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
    QCoreApplication::setApplicationName(QStringLiteral("HarbendPlayer"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    QVERIFY(polish.load(QStringLiteral(":/Language/pl_PL")));
    QCoreApplication::installTranslator(&polish);

    QString error;
    recording = Recording::make(folder.path(), QStringLiteral("rozprawa.ogg"),
                                {QStringLiteral("--stream"), QStringLiteral("theora:width=320,height=240,fps=25"),
                                 QStringLiteral("--stream"),
                                 QStringLiteral("vorbis:channels=2,base=440,step=0,level=0.5"),
                                 QStringLiteral("--duration"), QStringLiteral("30")},
                                &error);
    QVERIFY2(!recording.isEmpty(), qPrintable(error));
    QDir().mkpath(folder.filePath(QStringLiteral("short")));
    shortRecording = Recording::make(folder.filePath(QStringLiteral("short")), QStringLiteral("krotkie.ogg"),
                                     {QStringLiteral("--stream"), QStringLiteral("vorbis:channels=1"),
                                      QStringLiteral("--duration"), QStringLiteral("1.5")},
                                     &error);
    QVERIFY2(!shortRecording.isEmpty(), qPrintable(error));
    QFile notes(folder.filePath(QStringLiteral("rozprawa.xml")));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.write("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ArrayOfAnnotation Created=\"1700000000\">"
                "<Annotation Time=\"PT2S\"><Text>Otwarcie</Text><Protocol>false</Protocol></Annotation>"
                "<Annotation Time=\"PT20S\"><Text>Świadek</Text><Protocol>true</Protocol></Annotation>"
                "</ArrayOfAnnotation>");
    notes.close();

    QVERIFY(sink.start());
    QVERIFY(sink.waitUntilRunning());
}

void PlayerPlayingTest::cleanup() { window.reset(); }

void PlayerPlayingTest::openAndWaitForPlaying(const QString& path)
{
    window.reset(new WPlayer);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->openMedia(path);
    QTRY_COMPARE_WITH_TIMEOUT(media()->getPlayingState(), QMediaPlayer::PlayingState, 10000);
}

void PlayerPlayingTest::mediaWidgetDrivesThePlayer()
{
    WMediaPlayer widget;
    QMediaPlayer* player = widget.getMediaPlayer();
    widget.setMuted(2);
    QVERIFY(player->isMuted());
    widget.setMuted(0);
    QVERIFY(!player->isMuted());
    widget.setVolume(40);
    QCOMPARE(player->volume(), 40);

    widget.openMediaFile(recording);
    QTRY_VERIFY(widget.isMediaOpened());
    QCOMPARE(widget.getTime(), 0L); // opened but stopped
    widget.pause();                 // stopped: nothing
    QCOMPARE(widget.getPlayingState(), QMediaPlayer::StoppedState);
    widget.seek(5000);
    QCOMPARE(widget.getPlayingState(), QMediaPlayer::StoppedState);

    widget.play();
    QTRY_COMPARE_WITH_TIMEOUT(widget.getPlayingState(), QMediaPlayer::PlayingState, 10000);
    widget.seek(10000);
    QTRY_VERIFY_WITH_TIMEOUT(widget.getTime() >= 10000, 5000);
    widget.pause();
    QCOMPARE(widget.getPlayingState(), QMediaPlayer::PausedState);
    const long paused = widget.getTime();
    QVERIFY(paused >= 10000 && paused < 12000);
    widget.pause(); // paused: resumes
    QCOMPARE(widget.getPlayingState(), QMediaPlayer::PlayingState);
    // Destroyed while playing: the playback stops before the video widget goes.
}

void PlayerPlayingTest::windowPlaysARecording()
{
    openAndWaitForPlaying(recording);
    const QString dir = QFileInfo(recording).absolutePath();
    QCOMPARE(window->windowTitle(), QStringLiteral("HarbendPlayer v:2.1.22 [%1]").arg(recording));
    Settings stored;
    QCOMPARE(stored.readLastMediaOpenFile(), recording);
    QCOMPARE(stored.readLastMediaOpenDirectory(), dir);

    // The annotations beside the recording are loaded.
    auto* table = window->findChild<Adnotacje*>()->findChild<QTableView*>(QStringLiteral("tableAdnot"));
    QVERIFY(table->model());
    QCOMPARE(table->model()->rowCount(), 2);

    // Playing look: every control enabled, the video instead of the placeholder.
    for (const char* name : {"playerBtPlayPause", "playerBtStop", "playerBtForward", "playerBtRevind", "btSlowPlayback",
                             "btNormalPlayback", "btFastPlayback"})
        QVERIFY2(child<QPushButton>(name)->isEnabled(), name);
    QVERIFY(child<TimeEditSlider>("mediaPosition")->isEnabled());
    QVERIFY(child<PosTimeEdit>("playerTePozycjaNagrania")->isEnabled());
    QCOMPARE(face(child<QPushButton>("playerBtPlayPause")->icon()),
             face(window->style()->standardIcon(QStyle::SP_MediaPause)));
    QVERIFY(media()->getVideoWidget()->isVisible());
    QVERIFY(!child<QLabel>("lPlayerIcon")->isVisible());
    QTRY_COMPARE(child<QLabel>("playerLCzasNagrania")->text(), QStringLiteral("00:00:30"));

    // Position reports move the slider and the editor.
    QTRY_VERIFY_WITH_TIMEOUT(child<PosTimeEdit>("playerTePozycjaNagrania")->time() >= QTime(0, 0, 1), 5000);
    QTRY_VERIFY(child<TimeEditSlider>("mediaPosition")->value() > 0);

    // The sound reaches the sink; mute silences it and a volume move brings it back.
    QTRY_VERIFY_WITH_TIMEOUT(soundLevel() > 0.05, 5000);
    QTest::mouseClick(child<QPushButton>("playerBtMute"), Qt::LeftButton);
    QVERIFY(media()->getMediaPlayer()->isMuted());
    QTRY_VERIFY_WITH_TIMEOUT(soundLevel() < 0.001, 5000);
    child<QSlider>("playerSlVolume")->setValue(90);
    QVERIFY(!media()->getMediaPlayer()->isMuted());
    QCOMPARE(media()->getMediaPlayer()->volume(), 90);
    QTRY_VERIFY_WITH_TIMEOUT(soundLevel() > 0.05, 5000);

    // The channel panel switches the recording's channels off and on.
    auto* panel = window->findChild<Harbend::ChannelControlWidget*>();
    QPushButton* allOff = nullptr;
    QPushButton* allOn = nullptr;
    for (QPushButton* b : panel->findChildren<QPushButton*>()) {
        if (b->pos() == QPoint(170, 5))
            allOff = b;
        if (b->pos() == QPoint(200, 5))
            allOn = b;
    }
    QVERIFY(allOff && allOn);
    QTest::mouseClick(allOff, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(soundLevel() < 0.001, 5000);
    QTest::mouseClick(allOn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(soundLevel() > 0.05, 5000);

    const QByteArray shot = qgetenv("HARBEND_SCREENSHOT");
    if (!shot.isEmpty()) {
        window->resize(1300, 706);
        QTest::qWait(1000);
        // From the screen: the video is drawn by OpenGL, which a widget grab does not see.
        window->screen()->grabWindow(window->winId()).save(QString::fromLocal8Bit(shot));
    }

    // Pause and resume with the play/pause button.
    QTest::mouseClick(child<QPushButton>("playerBtPlayPause"), Qt::LeftButton);
    QCOMPARE(media()->getPlayingState(), QMediaPlayer::PausedState);
    QCOMPARE(face(child<QPushButton>("playerBtPlayPause")->icon()),
             face(window->style()->standardIcon(QStyle::SP_MediaPlay)));
    // Escape while paused cancels a typed time although no position report follows.
    auto* editor = child<PosTimeEdit>("playerTePozycjaNagrania");
    editor->setFocus();
    editor->setTime(QTime(0, 0, 29));
    QTest::keyClick(editor, Qt::Key_Escape);
    QCOMPARE(editor->time(), WPlayer::pos2time(position()));
    QTest::mouseClick(child<QPushButton>("playerBtPlayPause"), Qt::LeftButton);
    QCOMPARE(media()->getPlayingState(), QMediaPlayer::PlayingState);

    // A click on the slider's groove at the middle seeks to the middle.
    auto* slider = child<TimeEditSlider>("mediaPosition");
    QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->width() / 2, slider->height() / 2));
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(position() - 15000) < 1500, 5000);

    // A typed time and Enter seek to that very second, playing and paused, although the editor
    // keeps the milliseconds of the last report; the focus goes to play/pause. (Other tests'
    // windows share the display, so the window's own focus widget is checked, not the active focus.)
    QSignalSpy reached(media()->getMediaPlayer(), &QMediaPlayer::positionChanged);
    const std::pair<QMediaPlayer::State, int> typings[] = {{QMediaPlayer::PausedState, 9},
                                                           {QMediaPlayer::PlayingState, 5}};
    for (const auto& [state, second] : typings) {
        if (media()->getPlayingState() != state)
            QTest::mouseClick(child<QPushButton>("playerBtPlayPause"), Qt::LeftButton);
        QCOMPARE(media()->getPlayingState(), state);
        editor->setTime(WPlayer::pos2time(12900));
        editor->setFocus();
        editor->setSelectedSection(QDateTimeEdit::SecondSection);
        QTest::keyClicks(editor, QStringLiteral("0") + QString::number(second));
        QCOMPARE(editor->time(), QTime(0, 0, second, 900));
        // The seek reports the position it reached (another than the current one) before anything else can.
        reached.clear();
        QTest::keyClick(editor, Qt::Key_Return);
        QVERIFY(!reached.isEmpty());
        const qint64 landed = reached.first().first().toLongLong();
        QVERIFY2(landed >= second * 1000 && landed < second * 1000 + 50, qPrintable(QString::number(landed)));
        QCOMPARE(window->focusWidget(), child<QPushButton>("playerBtPlayPause"));
    }

    // Holding fast forward jumps 10 s at once; its release plays on.
    const qint64 before = position();
    QTest::mousePress(child<QPushButton>("playerBtForward"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(position() >= before + 9500, 5000);
    // Still held at the first tick, 3 s on: 7 s more, which with the 3 s played makes 10 s.
    QTRY_VERIFY_WITH_TIMEOUT(position() >= before + 19000, 5000);
    QTest::mouseRelease(child<QPushButton>("playerBtForward"), Qt::LeftButton);
    QCOMPARE(media()->getPlayingState(), QMediaPlayer::PlayingState);
    // Rewind from near the start is held at the start.
    window->playerSeek(3000);
    QTRY_VERIFY_WITH_TIMEOUT(position() < 5000, 5000);
    QTest::mousePress(child<QPushButton>("playerBtRevind"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(position() < 1500, 5000);
    QTest::mouseRelease(child<QPushButton>("playerBtRevind"), Qt::LeftButton);

    // Rate buttons: the player control's report lights the matching icon.
    QTest::mouseClick(child<QPushButton>("btFastPlayback"), Qt::LeftButton);
    QCOMPARE(media()->getMediaPlayer()->playbackRate(), 2.0);
    QCOMPARE(face(child<QPushButton>("btFastPlayback")->icon()), face(":/icons/playfaston.png"));
    QTest::mouseClick(child<QPushButton>("btSlowPlayback"), Qt::LeftButton);
    QCOMPARE(media()->getMediaPlayer()->playbackRate(), 0.5);
    QCOMPARE(face(child<QPushButton>("btSlowPlayback")->icon()), face(":/icons/playslowon.png"));
    QTest::mouseClick(child<QPushButton>("btNormalPlayback"), Qt::LeftButton);
    QCOMPARE(face(child<QPushButton>("btNormalPlayback")->icon()), face(":/icons/playnormalon.png"));
    QCOMPARE(face(child<QPushButton>("btFastPlayback")->icon()), face(":/icons/playfastoff.png"));

    // A double click on an annotation seeks to its time.
    table->scrollTo(table->model()->index(1, 0));
    const QRect row = table->visualRect(table->model()->index(1, 0));
    QSignalSpy asked(window->findChild<Adnotacje*>(), &Adnotacje::annSeek);
    // A double click as the system sends it: press, release, then the double click.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
    QCOMPARE(asked.count(), 1);
    QCOMPARE(asked.at(0).at(0).toLongLong(), qint64(20000));
    QTRY_VERIFY2_WITH_TIMEOUT(position() >= 20000 && position() < 22000, qPrintable(QString::number(position())), 5000);

    // Stop: the stopped look.
    QTest::mouseClick(child<QPushButton>("playerBtStop"), Qt::LeftButton);
    QCOMPARE(media()->getPlayingState(), QMediaPlayer::StoppedState);
    QVERIFY(!child<QPushButton>("playerBtStop")->isEnabled());
    QVERIFY(!child<TimeEditSlider>("mediaPosition")->isEnabled());
    QVERIFY(child<QPushButton>("playerBtPlayPause")->isEnabled());
    QVERIFY(child<QLabel>("lPlayerIcon")->isVisible());
    QCOMPARE(editor->time(), QTime(0, 0, 0));
    // A seek while stopped is dropped.
    window->playerSeek(10000);
    QCOMPARE(media()->getPlayingState(), QMediaPlayer::StoppedState);
    // Play starts again.
    QTest::mouseClick(child<QPushButton>("playerBtPlayPause"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(media()->getPlayingState(), QMediaPlayer::PlayingState, 10000);
}

void PlayerPlayingTest::invalidRecording()
{
    openAndWaitForPlaying(shortRecording);
    window->playerStop();
    Settings stored;
    const QString lastFile = stored.readLastMediaOpenFile();
    QCOMPARE(lastFile, shortRecording);

    QTemporaryDir other;
    const QString bogus = other.filePath(QStringLiteral("zepsute.ogg"));
    QFile file(bogus);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("to nie jest nagranie");
    file.close();
    ModalAnswer answer(ModalAnswer::press(QMessageBox::Ok));
    window->openMedia(bogus);
    QTRY_COMPARE(answer.seen.size(), 1);
    QCOMPARE(answer.seen.at(0).title, QStringLiteral("Błąd krytyczny"));
    QCOMPARE(answer.seen.at(0).text, QStringLiteral("Nie udało się otworzyć pliku z nagraniem '%1'.").arg(bogus));
    QCOMPARE(window->windowTitle(), QStringLiteral("HarbendPlayer v:2.1.22"));
    QVERIFY(!child<QPushButton>("playerBtPlayPause")->isEnabled());
    QCOMPARE(Settings().readLastMediaOpenFile(), lastFile);

    // A recording emptied after it was opened cannot play again: the engine's reason is shown.
    const QString emptied = other.filePath(QStringLiteral("oprozniane.ogg"));
    QVERIFY(QFile::copy(shortRecording, emptied));
    openAndWaitForPlaying(emptied);
    window->playerStop();
    QVERIFY(QFile::resize(emptied, 0));
    window->playerPlayPause();
    QTRY_COMPARE(answer.seen.size(), 2);
    QCOMPARE(answer.seen.at(1).title, QStringLiteral("Błąd krytyczny"));
    QCOMPARE(answer.seen.at(1).text, QStringLiteral("Nie udało się wystartować wątku odczytującego!"));
    QVERIFY(!child<QPushButton>("playerBtPlayPause")->isEnabled());
}

void PlayerPlayingTest::endOfTheRecording()
{
    openAndWaitForPlaying(shortRecording);
    QTRY_COMPARE_WITH_TIMEOUT(media()->getPlayingState(), QMediaPlayer::StoppedState, 10000);
    QVERIFY(!child<QPushButton>("playerBtStop")->isEnabled());
    QVERIFY(child<QPushButton>("playerBtPlayPause")->isEnabled());
    QCOMPARE(child<PosTimeEdit>("playerTePozycjaNagrania")->time(), QTime(0, 0, 0));
    // Plays again from the start.
    window->playerPlayPause();
    QTRY_COMPARE_WITH_TIMEOUT(media()->getPlayingState(), QMediaPlayer::PlayingState, 10000);
}

void PlayerPlayingTest::windingIntoTheEndStaysStopped()
{
    openAndWaitForPlaying(recording);
    QTRY_COMPARE(child<QLabel>("playerLCzasNagrania")->text(), QStringLiteral("00:00:30"));
    window->playerSeek(25000);
    QTRY_VERIFY_WITH_TIMEOUT(position() >= 25000, 5000);
    QSignalSpy states(media()->getMediaPlayer(), &QMediaPlayer::stateChanged);
    // Held until the end: the stop disables the button, which releases it.
    auto* forward = child<QPushButton>("playerBtForward");
    QTest::mousePress(forward, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(
        !states.isEmpty() && states.last().at(0).value<QMediaPlayer::State>() == QMediaPlayer::StoppedState, 10000);
    QCoreApplication::processEvents();
    QCOMPARE(media()->getPlayingState(), QMediaPlayer::StoppedState);
    QCOMPARE(states.last().at(0).value<QMediaPlayer::State>(), QMediaPlayer::StoppedState);
    QVERIFY(!forward->isEnabled());
    QVERIFY(child<QPushButton>("playerBtPlayPause")->isEnabled());
    QCOMPARE(face(child<QPushButton>("playerBtPlayPause")->icon()),
             face(window->style()->standardIcon(QStyle::SP_MediaPlay)));
    QTest::mouseRelease(forward, Qt::LeftButton);
    QCOMPARE(media()->getPlayingState(), QMediaPlayer::StoppedState);
}

void PlayerPlayingTest::clicksOnStopMillisecondsApart_data()
{
    QTest::addColumn<QStringList>("clicks");
    const QString stop = QStringLiteral("playerBtStop");
    QTest::newRow("stop twice") << QStringList{stop, stop};
    QTest::newRow("stop three times") << QStringList{stop, stop, stop};
    QTest::newRow("slider, stop twice") << QStringList{QStringLiteral("mediaPosition"), stop, stop};
    QTest::newRow("2x, stop twice") << QStringList{QStringLiteral("btFastPlayback"), stop, stop};
}

// Clicks 1 ms apart, as a double click on Stop gives: the stop runs the event
// loop while the audio output goes, so the later clicks arrive inside it.
void PlayerPlayingTest::clicksOnStopMillisecondsApart()
{
    QFETCH(QStringList, clicks);
    openAndWaitForPlaying(recording);
    QTRY_VERIFY_WITH_TIMEOUT(position() > 300, 5000);
    int clicked = 0;
    for (int k = 0; k < clicks.size(); ++k) {
        QTimer::singleShot(k + 1, Qt::PreciseTimer, window.get(), [&, k] {
            auto* target = child<QWidget>(qPrintable(clicks.at(k)));
            QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, target->rect().center());
            ++clicked;
        });
    }
    QTRY_COMPARE_WITH_TIMEOUT(clicked, clicks.size(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(media()->getPlayingState(), QMediaPlayer::StoppedState, 5000);
    QVERIFY(!child<QPushButton>("playerBtStop")->isEnabled());
    QCOMPARE(child<PosTimeEdit>("playerTePozycjaNagrania")->time(), QTime(0, 0, 0));
    QTest::mouseClick(child<QPushButton>("playerBtPlayPause"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(media()->getPlayingState(), QMediaPlayer::PlayingState, 10000);
}

void PlayerPlayingTest::unsupportedPicturesAreToldWhileTheSoundPlays()
{
    // What ffmpeg makes from an RGB source: Theora 4:4:4, which no video output draws.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rgb.ogg"));
    QCOMPARE(QProcess::execute(QStringLiteral("ffmpeg"), {"-hide_banner",
                                                          "-loglevel",
                                                          "error",
                                                          "-f",
                                                          "lavfi",
                                                          "-i",
                                                          "testsrc=size=320x240:rate=25",
                                                          "-f",
                                                          "lavfi",
                                                          "-i",
                                                          "sine=frequency=440:sample_rate=44100",
                                                          "-t",
                                                          "8",
                                                          "-pix_fmt",
                                                          "yuv444p",
                                                          "-c:v",
                                                          "libtheora",
                                                          "-c:a",
                                                          "libvorbis",
                                                          "-y",
                                                          path}),
             0);
    // Only there so that a box that holds playback up cannot hang the test.
    QObject guard;
    QTimer::singleShot(20000, &guard, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    openAndWaitForPlaying(path);
    auto* box = window->findChild<QMessageBox*>();
    QVERIFY(box && box->isVisible());
    QCOMPARE(box->windowTitle(), QStringLiteral("Problem renderowania video"));
    QCOMPARE(
        box->text(),
        QStringLiteral("Format obrazu tego nagrania nie jest obsługiwany. Nagranie zostanie odtworzone bez obrazu."));
    // The box only informs: the recording plays on, with its sound, while it is open.
    QTRY_VERIFY_WITH_TIMEOUT(position() >= 1500, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(soundLevel() > 0.05, 5000);
    QVERIFY(box->isVisible());
}

void PlayerPlayingTest::recordingGivenByARelativePath()
{
    // Started from the recording's folder with its bare name.
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder.path()));
    openAndWaitForPlaying(QStringLiteral("rozprawa.ogg"));
    QVERIFY(QDir::setCurrent(before));
    auto* panel = window->findChild<Adnotacje*>();
    const QString dir = QFileInfo(recording).absolutePath();
    QCOMPARE(panel->getAnnotationsDir(), dir);
    QCOMPARE(Settings().readLastMediaOpenDirectory(), dir);
    QCOMPARE(panel->findChild<QTableView*>(QStringLiteral("tableAdnot"))->model()->rowCount(), 2);
    // A new layer is named after the folder.
    ScriptedDialogs dialogs;
    panel->setDialogs(&dialogs);
    QVERIFY(QMetaObject::invokeMethod(panel->findChild<QComboBox*>(QStringLiteral("comboBoxFiles")), "activated",
                                      Q_ARG(QString, QLatin1String(Adnotacje::AddNewItem))));
    panel->setDialogs(nullptr);
    QCOMPARE(dialogs.proposedNames,
             QStringList{dir + QLatin1Char('/') + QFileInfo(dir).fileName() + QStringLiteral(".xml")});
}

void PlayerPlayingTest::followModeLeavesTheMenuItsAnnotation()
{
    // A copy of the recording with an annotation every two seconds.
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("co-dwie.ogg"));
    QVERIFY(QFile::copy(recording, copy));
    const QString notes = dir.filePath(QStringLiteral("co-dwie.xml"));
    {
        QFile file(notes);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ArrayOfAnnotation Created=\"1700000000\">");
        for (int n = 1; n <= 14; ++n)
            file.write("<Annotation Time=\"PT" + QByteArray::number(2 * n) + "S\"><Text>adnotacja " +
                       QByteArray::number(n) + "</Text><Protocol>false</Protocol></Annotation>");
        file.write("</ArrayOfAnnotation>");
    }
    openAndWaitForPlaying(copy);
    auto* panel = window->findChild<Adnotacje*>();
    auto* table = panel->findChild<QTableView*>(QStringLiteral("tableAdnot"));
    QTRY_COMPARE(table->model()->rowCount(), 14);
    window->findChild<QCheckBox*>(QStringLiteral("checkSpy"))->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(position() >= 5000, 10000);
    QTRY_VERIFY(table->selectionModel()->hasSelection()); // follow mode has taken the selection

    // A right click on the first annotation; the menu stays open while playback runs on for
    // more than two annotations before "Usuń" is chosen and the question answered.
    const QPoint at = table->visualRect(table->model()->index(0, 1)).center();
    QTest::mouseClick(table->viewport(), Qt::RightButton, Qt::NoModifier, at);
    qint64 openedAt = -1;
    bool chosen = false;
    QString question;
    QTimer user;
    connect(&user, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            if (openedAt < 0)
                openedAt = position();
            if (chosen || position() < openedAt + 4500)
                return;
            chosen = true;
            for (QAction* action : menu->actions())
                if (action->text() == QString::fromUtf8("Usuń"))
                    menu->setActiveAction(action);
            // From the event loop: this timer must stay free to answer the question that follows.
            QMetaObject::invokeMethod(
                menu, [menu] { QTest::keyClick(menu, Qt::Key_Return); }, Qt::QueuedConnection);
        } else if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            question = box->text();
            box->button(QMessageBox::Yes)->click();
        }
    });
    user.start(20);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, table->viewport()->mapToGlobal(at));
    QApplication::sendEvent(table->viewport(), &event);
    user.stop();
    QCOMPARE(question, QString::fromUtf8("Czy na pewno usunąć adnotację 00:00:02 „adnotacja 1”?"));
    QFile file(notes);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray left = file.readAll();
    QVERIFY(!left.contains("<Text>adnotacja 1</Text>"));
    QCOMPARE(left.count("<Annotation "), 13);
}

namespace {
QString lastOpenedRecording(const QString& home)
{
    const QString ini = home + QStringLiteral("/config/Velmora/HarbendPlayer.ini");
    return QSettings(ini, QSettings::IniFormat).value(QStringLiteral("lastMediaOpenFile")).toString();
}

// Starts the real host with private data and settings folders, waits until `reached` gives
// a text (by default: the recording that it opened and stored), ends it with the signal as a
// desktop session would and returns that text.
QString runHost(const QString& program, const QStringList& arguments,
                const std::function<QString(const QString&)>& reached = lastOpenedRecording, int signal = SIGTERM)
{
    QTemporaryDir home;
    QProcess host;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    host.setProcessEnvironment(environment);
    host.setProcessChannelMode(QProcess::MergedChannels);
    host.start(program, arguments);
    if (!host.waitForStarted(10000))
        return QStringLiteral("not started");
    QString opened;
    QDeadlineTimer deadline(20000);
    while (opened.isEmpty() && !deadline.hasExpired() && host.state() == QProcess::Running) {
        QTest::qWait(100);
        opened = reached(home.path());
    }
    ::kill(pid_t(host.processId()), signal);
    if (!host.waitForFinished(20000) || host.exitStatus() != QProcess::NormalExit || host.exitCode() != 0)
        return QStringLiteral("did not end cleanly");
    return opened;
}
} // namespace

void PlayerPlayingTest::hostPlaysAndEndsCleanly()
{
    // It plays the recording (and so stores the last file), then unloads the library before
    // the process ends, and must still end cleanly.
    QCOMPARE(runHost(QStringLiteral(HARBEND_BIN_DIR "/harbend-player"), {recording}), recording);
}

void PlayerPlayingTest::hostOpensTheFirstRecordingOfItsFolder()
{
    // A copy of the program with two recordings beside it: the one the folder lists first opens.
    QTemporaryDir program;
    for (const char* name : {"harbend-player", "libHarbendPlayer.so"})
        QVERIFY(QFile::copy(QStringLiteral(HARBEND_BIN_DIR "/") + QLatin1String(name),
                            program.filePath(QLatin1String(name))));
    QVERIFY(QFile::copy(shortRecording, program.filePath(QStringLiteral("b-rozprawa.ogg"))));
    QVERIFY(QFile::copy(shortRecording, program.filePath(QStringLiteral("a-rozprawa.oga"))));
    QVERIFY(QFile::copy(shortRecording, program.filePath(QStringLiteral("notatki.txt"))));
    const QFileInfoList listed = QDir(program.path())
                                     .entryInfoList({QStringLiteral("*.ogg"), QStringLiteral("*.oga")}, QDir::Files,
                                                    QDir::NoSort);
    QCOMPARE(listed.size(), 2);
    QCOMPARE(runHost(program.filePath(QStringLiteral("harbend-player")), {}), listed.first().filePath());
}

void PlayerPlayingTest::hostEndsOnASignalWhileABoxIsOpen()
{
    // A file that is no recording: the window's box comes up while the recording opens, before
    // the main loop runs. SIGINT, as from a terminal, ends the program in order all the same.
    QTemporaryDir other;
    const QString bogus = other.filePath(QStringLiteral("zepsute.ogg"));
    QFile file(bogus);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("to nie jest nagranie");
    file.close();
    const auto failureLogged = [](const QString& home) {
        QFile log(home + QStringLiteral("/data/Velmora/HarbendPlayer/HarbendPlayer.log"));
        return log.open(QIODevice::ReadOnly) && log.readAll().contains("ERROR") ? QStringLiteral("logged") : QString();
    };
    QCOMPARE(runHost(QStringLiteral(HARBEND_BIN_DIR "/harbend-player"), {bogus}, failureLogged, SIGINT),
             QStringLiteral("logged"));
}

HARBEND_TEST_MAIN(PlayerPlayingTest)
#include "tst_player_playing.moc"
