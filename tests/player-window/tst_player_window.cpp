#include "Annotations/Adnotacje.h"
#include "Annotations/AnnotationOptions.h"
#include "Gui/ChannelControlWidget.h"
#include "Gui/PosTimeEdit.h"
#include "Gui/Settings.h"
#include "Gui/TimeEditSlider.h"
#include "Gui/WMediaPlayer.h"
#include "Gui/WPlayer.h"
#include "ModalAnswer.h"
#include "tests/TestMain.h"

#include <QComboBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStyleOptionComboBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <memory>

namespace {

QImage face(const QIcon& icon) { return icon.pixmap(20, 20).toImage(); }
QImage face(const QString& resource) { return face(QIcon(resource)); }
QImage standardFace(QWidget* w, QStyle::StandardPixmap p) { return face(w->style()->standardIcon(p)); }

void writeAnnotations(const QString& path, const QByteArray& body)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ArrayOfAnnotation Created=\"1700000000\">" + body +
               "</ArrayOfAnnotation>");
}

QByteArray annotation(const char* time, const char* text)
{
    return QByteArray("<Annotation Time=\"") + time + "\"><Text>" + text +
           "</Text><Protocol>false</Protocol></Annotation>";
}

// Selects the file in the open dialog and accepts it; an empty name cancels.
std::function<void(QWidget*)> chooseFile(const QString& name)
{
    return [name](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        if (!dialog) {
            widget->close();
            return;
        }
        if (name.isEmpty()) {
            dialog->reject();
            return;
        }
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (edit)
            edit->setText(name);
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    };
}

} // namespace

class PlayerWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void formAndNoMediaLook();
    void titleAndFolders();
    void positionSliderFollowsTheRange_data();
    void positionSliderFollowsTheRange();
    void rateIconsFollowTheReportedRate();
    void muteButtonAndVolumeSlider();
    void docksFromTheMenu();
    void aboutDialog();
    void settingsAcceptedAndRejected();
    void themes();
    void dialogsAndClosingWaitForAnOpenEdit();
    void annotationFileFromTheDialog();
    void closeMenuAsksAboutAnOpenEdit();
    void rowsHaveTheirNaturalHeightAtFirstDisplay();

private:
    QTemporaryDir config;
    QTranslator polish;
    std::unique_ptr<WPlayer> window;

    template <class T>
    T* child(const char* name) const
    {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qWarning("no child %s", name);
        return found;
    }
    void invoke(const char* slot, QGenericArgument argument)
    {
        QVERIFY(QMetaObject::invokeMethod(window.get(), slot, Qt::DirectConnection, argument));
    }
};

void PlayerWindowTest::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
    QCoreApplication::setApplicationName(QStringLiteral("HarbendPlayer"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    QVERIFY(polish.load(QStringLiteral(":/Language/pl_PL")));
    QCoreApplication::installTranslator(&polish);
}

void PlayerWindowTest::init()
{
    QFile::remove(config.path() + QStringLiteral("/Velmora/HarbendPlayer.ini"));
    window.reset(new WPlayer);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void PlayerWindowTest::cleanup()
{
    window.reset();
    qApp->setStyleSheet(QString());
}

void PlayerWindowTest::formAndNoMediaLook()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("HarbendPlayer v:2.1.22"));
    auto* splitter = child<QSplitter>("mainSplitter");
    QVERIFY(splitter);
    QCOMPARE(splitter->count(), 2);
    QVERIFY(qobject_cast<WMediaPlayer*>(splitter->widget(0)));
    QVERIFY(qobject_cast<Adnotacje*>(splitter->widget(1)));
    QVERIFY(!splitter->isCollapsible(0));
    QCOMPARE(splitter->handleWidth(), 5);

    // No recording: only the always-enabled controls can be used.
    for (const char* name : {"playerBtPlayPause", "playerBtStop", "playerBtForward", "playerBtRevind", "btSlowPlayback",
                             "btNormalPlayback", "btFastPlayback"})
        QVERIFY2(!child<QPushButton>(name)->isEnabled(), name);
    QVERIFY(!child<PosTimeEdit>("playerTePozycjaNagrania")->isEnabled());
    QVERIFY(!child<TimeEditSlider>("mediaPosition")->isEnabled());
    for (const char* name : {"playerBtOpenMedia", "playerBtOpenAdnotacje", "playerBtMute"})
        QVERIFY2(child<QPushButton>(name)->isEnabled(), name);
    QVERIFY(child<QSlider>("playerSlVolume")->isEnabled());
    QCOMPARE(child<QLabel>("playerLCzasNagrania")->text(), QStringLiteral("00:00:00"));
    QCOMPARE(child<PosTimeEdit>("playerTePozycjaNagrania")->time(), QTime(0, 0, 0));
    QCOMPARE(child<PosTimeEdit>("playerTePozycjaNagrania")->currentSection(), QDateTimeEdit::MinuteSection);
    QCOMPARE(child<PosTimeEdit>("playerTePozycjaNagrania")->displayFormat(), QStringLiteral("HH:mm:ss"));
    // The placeholder stands where the video would be.
    QVERIFY(child<QLabel>("lPlayerIcon")->isVisible());

    // Standard icons replace the form's pictures; the rate buttons keep theirs.
    QCOMPARE(face(child<QPushButton>("playerBtPlayPause")->icon()), standardFace(window.get(), QStyle::SP_MediaPlay));
    QCOMPARE(face(child<QPushButton>("playerBtStop")->icon()), standardFace(window.get(), QStyle::SP_MediaStop));
    QCOMPARE(face(child<QPushButton>("playerBtForward")->icon()),
             standardFace(window.get(), QStyle::SP_MediaSeekForward));
    QCOMPARE(face(child<QPushButton>("playerBtRevind")->icon()),
             standardFace(window.get(), QStyle::SP_MediaSeekBackward));
    QCOMPARE(face(child<QPushButton>("playerBtMute")->icon()), standardFace(window.get(), QStyle::SP_MediaVolume));
    QCOMPARE(face(child<QPushButton>("btSlowPlayback")->icon()), face(QStringLiteral(":/icons/playslowoff.png")));

    // Texts in Polish, the three English tooltips through the translation.
    QCOMPARE(child<QPushButton>("btSlowPlayback")->toolTip(), QStringLiteral("Wolne odtwarzanie"));
    QCOMPARE(child<QPushButton>("btNormalPlayback")->toolTip(), QStringLiteral("Normalne odtwarzanie"));
    QCOMPARE(child<QPushButton>("btFastPlayback")->toolTip(), QStringLiteral("Szybkie odtwarzanie"));
    QCOMPARE(child<QPushButton>("playerBtOpenMedia")->text(), QStringLiteral("Otwórz nagranie"));
    QStringList menus;
    for (QAction* a : window->menuBar()->actions())
        menus << a->text();
    QCOMPARE(menus, (QStringList{QStringLiteral("Plik"), QStringLiteral("Opcje"), QStringLiteral("Pomoc")}));
    QStringList plik;
    for (QAction* a : child<QMenu>("menuPlik")->actions())
        plik << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(plik, (QStringList{QStringLiteral("Otwórz nagranie"), QStringLiteral("Otwórz adnotację"),
                                QStringLiteral("-"), QStringLiteral("Zamknij")}));

    // Both docks start hidden; the channel dock holds the 13-channel panel.
    auto* options = child<QDockWidget>("dwAnnotationOptions");
    QVERIFY(options && !options->isVisible());
    QCOMPARE(options->windowTitle(), QStringLiteral("Opcje Adnotacji"));
    const QList<Harbend::ChannelControlWidget*> panels = window->findChildren<Harbend::ChannelControlWidget*>();
    QCOMPARE(panels.size(), 1);
    auto* channelDock = qobject_cast<QDockWidget*>(panels.first()->parentWidget()->parentWidget());
    QVERIFY(channelDock);
    QVERIFY(!channelDock->isVisible());
    QCOMPARE(channelDock->windowTitle(), QStringLiteral("Regulacja głośności kanałów"));
    QCOMPARE(window->dockWidgetArea(channelDock), Qt::RightDockWidgetArea);
    QCOMPARE(panels.first()->parentWidget()->minimumSize(), QSize(400, 243));
}

void PlayerWindowTest::titleAndFolders()
{
    QCOMPARE(window->fileName2path(QStringLiteral("C:\\a\\b.ogg")), QStringLiteral("C:/a"));
    QCOMPARE(window->fileName2path(QStringLiteral("C:/nagrania/rozprawa.ogg")), QStringLiteral("C:/nagrania"));
    QCOMPARE(window->fileName2path(QStringLiteral("/b.ogg")), QStringLiteral("/"));
    QCOMPARE(window->fileName2path(QStringLiteral("b.ogg")), QStringLiteral("."));
    QCOMPARE(window->fileName2path(QString()), QStringLiteral("."));
    QCOMPARE(WPlayer::pos2tekst(3723000), QStringLiteral("01:02:03"));
    QCOMPARE(WPlayer::pos2time(-1000), QTime(23, 59, 59));
    QCOMPARE(WPlayer::time2pos(QTime(0, 5, 0)), 300000);
    // An empty name opens nothing.
    window->openMedia(QString());
    QCOMPARE(window->windowTitle(), QStringLiteral("HarbendPlayer v:2.1.22"));
}

void PlayerWindowTest::positionSliderFollowsTheRange_data()
{
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("stop");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<int>("slider");
    QTest::addColumn<QString>("end");
    QTest::newRow("quarter") << qint64(0) << qint64(600000) << qint64(150000) << 250 << "00:10:00";
    QTest::newRow("before start") << qint64(2000) << qint64(602000) << qint64(1000) << 0 << "00:10:02";
    QTest::newRow("after stop") << qint64(2000) << qint64(602000) << qint64(700000) << 1000 << "00:10:02";
    QTest::newRow("empty range") << qint64(5000) << qint64(5000) << qint64(5000) << 0 << "00:00:05";
    QTest::newRow("negative range") << qint64(-40) << qint64(-1) << qint64(300) << 0 << "00:00:00";
    QTest::newRow("no position") << qint64(0) << qint64(1000) << qint64(-1) << 0 << "00:00:01";
}

void PlayerWindowTest::positionSliderFollowsTheRange()
{
    QFETCH(qint64, start);
    QFETCH(qint64, stop);
    QFETCH(qint64, position);
    QFETCH(int, slider);
    QFETCH(QString, end);
    QMediaTimeRange range(start, stop);
    invoke("availablePlaybackRanges", Q_ARG(QMediaTimeRange, range));
    QCOMPARE(child<QLabel>("playerLCzasNagrania")->text(), end);
    invoke("mpPositionChanged", Q_ARG(qint64, position));
    QCOMPARE(child<TimeEditSlider>("mediaPosition")->value(), slider);
    QCOMPARE(child<PosTimeEdit>("playerTePozycjaNagrania")->time(), WPlayer::pos2time(std::max<qint64>(position, 0)));
}

void PlayerWindowTest::rateIconsFollowTheReportedRate()
{
    auto* slow = child<QPushButton>("btSlowPlayback");
    auto* normal = child<QPushButton>("btNormalPlayback");
    auto* fast = child<QPushButton>("btFastPlayback");
    auto check = [&](qreal rate, const char* s, const char* n, const char* f) {
        invoke("playbackRateChanged", Q_ARG(qreal, rate));
        QCOMPARE(face(slow->icon()), face(QString::fromLatin1(s)));
        QCOMPARE(face(normal->icon()), face(QString::fromLatin1(n)));
        QCOMPARE(face(fast->icon()), face(QString::fromLatin1(f)));
    };
    check(2.0, ":/icons/playslowoff.png", ":/icons/playnormaloff.png", ":/icons/playfaston.png");
    check(1.0, ":/icons/playslowoff.png", ":/icons/playnormalon.png", ":/icons/playfastoff.png");
    check(0.75, ":/icons/playslowon.png", ":/icons/playnormaloff.png", ":/icons/playfastoff.png");
    check(1.5, ":/icons/playslowoff.png", ":/icons/playnormaloff.png", ":/icons/playfaston.png");

    // The buttons ask the media player for 0.5, 1 and 2.
    QSignalSpy asked(window.get(), &WPlayer::changePlaybackRate);
    for (QPushButton* b : {slow, normal, fast}) {
        b->setEnabled(true);
        QTest::mouseClick(b, Qt::LeftButton);
    }
    QCOMPARE(asked.count(), 3);
    QCOMPARE(asked.at(0).at(0).toReal(), 0.5);
    QCOMPARE(asked.at(1).at(0).toReal(), 1.0);
    QCOMPARE(asked.at(2).at(0).toReal(), 2.0);
}

void PlayerWindowTest::muteButtonAndVolumeSlider()
{
    auto* mute = child<QPushButton>("playerBtMute");
    auto* volume = child<QSlider>("playerSlVolume");
    QTest::mouseClick(mute, Qt::LeftButton);
    QCOMPARE(face(mute->icon()), standardFace(window.get(), QStyle::SP_MediaVolumeMuted));
    QTest::mouseClick(mute, Qt::LeftButton);
    QCOMPARE(face(mute->icon()), standardFace(window.get(), QStyle::SP_MediaVolume));
    QTest::mouseClick(mute, Qt::LeftButton);
    // Moving the volume slider unmutes.
    volume->setFocus();
    QTest::keyClick(volume, Qt::Key_Left);
    QCOMPARE(volume->value(), 99);
    QCOMPARE(face(mute->icon()), standardFace(window.get(), QStyle::SP_MediaVolume));
}

void PlayerWindowTest::docksFromTheMenu()
{
    auto* options = child<QDockWidget>("dwAnnotationOptions");
    auto* channelDock = qobject_cast<QDockWidget*>(
        window->findChild<Harbend::ChannelControlWidget*>()->parentWidget()->parentWidget());
    child<QAction>("actionAnnotationOptions")->trigger();
    QVERIFY(options->isVisible());
    child<QAction>("actionAnnotationOptions")->trigger();
    QVERIFY(!options->isVisible());
    child<QAction>("actionOpcjeKanaly")->trigger();
    QVERIFY(channelDock->isVisible());
    window->resize(1500, 900);
    QTRY_COMPARE(window->size(), QSize(1500, 900));
    QCOMPARE(window->findChild<Harbend::ChannelControlWidget*>()->size(), QSize(400, 243));
    child<QAction>("actionOpcjeKanaly")->trigger();
    QVERIFY(!channelDock->isVisible());
}

void PlayerWindowTest::aboutDialog()
{
    ModalAnswer answer(ModalAnswer::press(QMessageBox::Cancel));
    child<QAction>("actionHelpAbout")->trigger();
    QCOMPARE(answer.seen.size(), 1);
    QCOMPARE(answer.seen.at(0).className, QStringLiteral("DInfo"));
    QVERIFY(!window->findChild<QDialog*>()); // destroyed on return
}

void PlayerWindowTest::settingsAcceptedAndRejected()
{
    const QString ini = config.path() + QStringLiteral("/Velmora/HarbendPlayer.ini");
    auto* offset = window->findChild<AnnotationOptions*>()->findChild<QSpinBox*>();
    QVERIFY(offset);
    const int offsetBefore = window->findChild<AnnotationOptions*>()->getSpinOffset();

    // Rejected: nothing is stored and nothing changes.
    {
        ModalAnswer answer([](QWidget* w) {
            w->findChild<QSpinBox*>(QStringLiteral("sSpinOffset"))->setValue(7);
            static_cast<QDialog*>(w)->reject();
        });
        child<QAction>("actionSettings")->trigger();
        QCOMPARE(answer.seen.size(), 1);
        QCOMPARE(answer.seen.at(0).className, QStringLiteral("DSettings"));
    }
    QCOMPARE(window->findChild<AnnotationOptions*>()->getSpinOffset(), offsetBefore);
    QVERIFY(!QFile::exists(ini) || !Settings().contains(QStringLiteral("fontSize")));

    // Accepted with the night theme, a bigger font and an offset.
    {
        ModalAnswer answer([](QWidget* w) {
            auto* motif = w->findChild<QComboBox*>(QStringLiteral("sUiMotif"));
            motif->setCurrentIndex(motif->findData(QStringLiteral("NOCNY")));
            w->findChild<QSpinBox*>(QStringLiteral("sSpinOffset"))->setValue(7);
            w->findChild<QSpinBox*>(QStringLiteral("sFontSize"))->setValue(14);
            static_cast<QDialog*>(w)->accept();
        });
        child<QAction>("actionSettings")->trigger();
        QCOMPARE(answer.seen.size(), 1);
    }
    Settings stored;
    QCOMPARE(stored.readUiMotif(), QStringLiteral("NOCNY"));
    QCOMPARE(stored.readAnnotationJumpMargin(), 7);
    QCOMPARE(window->findChild<AnnotationOptions*>()->getSpinOffset(), 7);
    QCOMPARE(stored.readFontSize(), 14);
    QCOMPARE(QApplication::font().pointSize(), 14);
    QCOMPARE(window->font().pointSize(), 14);
    QVERIFY(!qApp->styleSheet().isEmpty());
    // The position slider, with a style of its own, takes the new theme like its neighbours.
    auto* position = child<TimeEditSlider>("mediaPosition");
    QCOMPARE(position->palette().color(QPalette::Window),
             child<QSlider>("playerSlVolume")->palette().color(QPalette::Window));
    QCOMPARE(position->style()->styleHint(QStyle::SH_Slider_AbsoluteSetButtons, nullptr, position),
             int(Qt::LeftButton));

    // A new window takes the stored preferences.
    window.reset(new WPlayer);
    QCOMPARE(window->findChild<AnnotationOptions*>()->getSpinOffset(), 7);
    QVERIFY(!qApp->styleSheet().isEmpty());
}

void PlayerWindowTest::themes()
{
    QFile night(QStringLiteral(":/Style/night.qss"));
    QVERIFY(night.open(QIODevice::ReadOnly));
    window->setGuiStyle(QStringLiteral("NOCNY"));
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(night.readAll()));
    QFile silver(QStringLiteral(":/Style/silver.qss"));
    QVERIFY(silver.open(QIODevice::ReadOnly));
    window->setGuiStyle(QStringLiteral("SREBRNY1"));
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(silver.readAll()));
    // Anything else clears the sheet.
    window->setGuiStyle(QStringLiteral("NIEBIESKI"));
    QCOMPARE(qApp->styleSheet(), QString());
    window->setGuiStyle(QStringLiteral("SREBRNY1"));
    window->setGuiStyle(QStringLiteral("BRAK"));
    QCOMPARE(qApp->styleSheet(), QString());

    // At every font size and theme the settings offer, every time and both lines of the layer
    // list are whole, and neither is smaller than at the sizes they were chosen for.
    QTemporaryDir folder;
    writeAnnotations(folder.filePath(QStringLiteral("rozprawa.xml")), annotation("PT10H8M48S", "Otwarcie"));
    auto* panel = window->findChild<Adnotacje*>();
    panel->loadAdnotationsDir(folder.path(), true);
    auto* table = panel->findChild<QTableView*>(QStringLiteral("tableAdnot"));
    auto* layers = panel->findChild<QComboBox*>(QStringLiteral("comboBoxFiles"));
    const auto layerTextFits = [layers] {
        QStyleOptionComboBox option;
        option.initFrom(layers);
        option.frame = layers->hasFrame();
        const QRect field = layers->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField,
                                                            layers);
        return field.height() >= layers->fontMetrics().boundingRect(QRect(), 0, layers->currentText()).height();
    };
    for (const char* motif : {"BRAK", "NOCNY", "SREBRNY1"}) {
        for (int size = 8; size <= 16; ++size) {
            ModalAnswer answer([motif, size](QWidget* w) {
                auto* themes = w->findChild<QComboBox*>(QStringLiteral("sUiMotif"));
                themes->setCurrentIndex(themes->findData(QString::fromLatin1(motif)));
                w->findChild<QSpinBox*>(QStringLiteral("sFontSize"))->setValue(size);
                static_cast<QDialog*>(w)->accept();
            });
            child<QAction>("actionSettings")->trigger();
            QCOMPARE(table->font().pointSize(), size);
            const QByteArray row = QByteArray(motif) + ' ' + QByteArray::number(size);
            QVERIFY2(layers->currentText().contains(QLatin1Char('\n')), row);
            QVERIFY2(table->columnWidth(0) >= 87, row);
            QVERIFY2(table->columnWidth(0) >= static_cast<QAbstractItemView*>(table)->sizeHintForColumn(0), row);
            QVERIFY2(layers->maximumHeight() >= 40, row);
            QTRY_VERIFY2(layerTextFits(), row);
        }
    }
}

void PlayerWindowTest::dialogsAndClosingWaitForAnOpenEdit()
{
    QTemporaryDir folder;
    writeAnnotations(folder.filePath(QStringLiteral("rozprawa.xml")), annotation("PT5S", "Otwarcie"));
    auto* panel = window->findChild<Adnotacje*>();
    panel->loadAdnotationsDir(folder.path(), true);
    QTest::mouseClick(panel->findChild<QPushButton*>(QStringLiteral("btAddAdn")), Qt::LeftButton);

    // The user keeps the edit: no file dialog, and the window stays open.
    {
        ModalAnswer answer(ModalAnswer::press(QMessageBox::No));
        window->playerOpenMedia();
        window->playerOpenAdnotacje();
        QVERIFY(!window->close());
        QCOMPARE(answer.seen.size(), 3);
        for (const ModalAnswer::Seen& seen : answer.seen)
            QCOMPARE(seen.className, QStringLiteral("QMessageBox"));
    }
    QVERIFY(window->isVisible());

    // The user drops the edit: a cancelled recording dialog changes nothing.
    {
        ModalAnswer answer([](QWidget* w) {
            if (auto* box = qobject_cast<QMessageBox*>(w))
                box->button(QMessageBox::Yes)->click();
            else
                chooseFile(QString())(w);
        });
        window->playerOpenMedia();
        QCOMPARE(answer.seen.size(), 2);
        QCOMPARE(answer.seen.at(1).className, QStringLiteral("QFileDialog"));
        QCOMPARE(answer.seen.at(1).title, QStringLiteral("Otwieranie pliku z nagraniem"));
    }
    QCOMPARE(window->windowTitle(), QStringLiteral("HarbendPlayer v:2.1.22"));
    // No edit now: the window closes without a question.
    QVERIFY(window->close());
}

void PlayerWindowTest::annotationFileFromTheDialog()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("rozprawa-judge.xml"));
    writeAnnotations(path, annotation("PT5S", "Otwarcie") + annotation("PT1M", "Świadek"));
    auto* options = window->findChild<AnnotationOptions*>();
    auto* layers = options->findChild<QTableView*>();
    QVERIFY(layers);
    ModalAnswer answer(chooseFile(path));
    QTest::mouseClick(child<QPushButton>("playerBtOpenAdnotacje"), Qt::LeftButton);
    QCOMPARE(answer.seen.size(), 1);
    QCOMPARE(answer.seen.at(0).title, QStringLiteral("Otwieranie pliku z adnotacjami"));
    // The panel read the file, and the options panel lists its layer.
    auto* table = window->findChild<Adnotacje*>()->findChild<QTableView*>(QStringLiteral("tableAdnot"));
    QVERIFY(table && table->model());
    QCOMPARE(table->model()->rowCount(), 2);
    QVERIFY(layers->model() && layers->model()->rowCount() >= 1);
}

void PlayerWindowTest::closeMenuAsksAboutAnOpenEdit()
{
    QTemporaryDir folder;
    writeAnnotations(folder.filePath(QStringLiteral("rozprawa.xml")), annotation("PT5S", "Otwarcie"));
    auto* panel = window->findChild<Adnotacje*>();
    panel->loadAdnotationsDir(folder.path(), true);
    QTest::mouseClick(panel->findChild<QPushButton*>(QStringLiteral("btAddAdn")), Qt::LeftButton);
    QList<QMessageBox::StandardButton> replies{QMessageBox::No, QMessageBox::Yes};
    ModalAnswer answer([&replies](QWidget* w) { ModalAnswer::press(replies.takeFirst())(w); });
    bool keptOpen = false;
    QTimer::singleShot(0, [&] {
        child<QAction>("actionPlikZamknij")->trigger(); // the user keeps the edit
        keptOpen = window->isVisible();
        child<QAction>("actionPlikZamknij")->trigger(); // the user drops it: the loop ends
    });
    QCOMPARE(QApplication::exec(), 0);
    QCOMPARE(answer.seen.size(), 2);
    QVERIFY(keptOpen);
    QVERIFY(!window->isVisible());
}

void PlayerWindowTest::rowsHaveTheirNaturalHeightAtFirstDisplay()
{
    // As at start-up: the layers load before the window is first shown.
    window.reset(new WPlayer);
    QTemporaryDir folder;
    // Many more than the table shows, of two lines, the last one of three.
    QByteArray many;
    for (int i = 0; i < 200; ++i)
        many += annotation(QByteArray("PT" + QByteArray::number(180 + i) + "S").constData(), "Pytanie\nobrońcy");
    writeAnnotations(folder.filePath(QStringLiteral("rozprawa.xml")),
                     annotation("PT5S", "Otwarcie rozprawy") + annotation("PT1M", "Świadek składa zeznania") +
                         annotation("PT2M", "Przerwa") + many + annotation("PT9M", "Wniosek\npełnomocnika\npowoda"));
    auto* panel = window->findChild<Adnotacje*>();
    panel->loadAdnotationsDir(folder.path(), true);
    window->resize(1300, 706);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto* table = panel->findChild<QTableView*>(QStringLiteral("tableAdnot"));
    QList<int> first;
    for (int row = 0; row < table->model()->rowCount(); ++row)
        first << table->rowHeight(row);
    // The rebuild of "Wyczyść" gives the rows their natural height.
    QTest::mouseClick(panel->findChild<QPushButton*>(QStringLiteral("btFilterReset")), Qt::LeftButton);
    QList<int> rebuilt;
    for (int row = 0; row < table->model()->rowCount(); ++row)
        rebuilt << table->rowHeight(row);
    QCOMPARE(first, rebuilt);
    // A row selected far below comes into view, with the taller rows above
    // it (follow mode selects so); rows take their height as they are shown.
    const int last = table->model()->rowCount() - 1;
    const QModelIndex far = table->model()->index(last - 50, 1);
    table->selectRow(far.row());
    QVERIFY(table->viewport()->rect().contains(table->visualRect(far)));
    const int lines = table->fontMetrics().lineSpacing();
    QVERIFY2(table->rowHeight(far.row()) >= 2 * lines, qPrintable(QString::number(table->rowHeight(far.row()))));
    table->scrollToBottom();
    QVERIFY2(table->rowHeight(last) >= 3 * lines && table->rowHeight(last) > table->rowHeight(last - 1),
             qPrintable(QString::number(table->rowHeight(last))));
    table->scrollToTop();
    QCOMPARE(table->rowHeight(0), first.first());
}

HARBEND_TEST_MAIN(PlayerWindowTest)
#include "tst_player_window.moc"
