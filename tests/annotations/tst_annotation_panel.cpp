// The annotations panel through its real widgets: layers, table, filters,
// follow mode, seeking, and adding, editing and deleting into real files.

#include "Annotations/Adnotacje.h"
#include "Annotations/AnnotationDocument.h"
#include "ScriptedDialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDomDocument>
#include <QFileDialog>
#include <QFrame>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>
#include <unistd.h>

namespace {

// Makes a folder refuse new files while it lives: by its permissions, or for
// root (whom they do not stop) by the immutable attribute.
struct FolderRefusingNewFiles {
    explicit FolderRefusingNewFiles(const QString& path) : path(path)
    {
        change(true);
        QFile probe(path + QStringLiteral("/proba"));
        refuses = !probe.open(QIODevice::WriteOnly | QIODevice::NewOnly);
        if (!refuses)
            probe.remove();
    }
    ~FolderRefusingNewFiles() { change(false); }
    void change(bool refuse) const
    {
        if (::geteuid() != 0)
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                            (refuse ? QFileDevice::Permissions() : QFileDevice::WriteOwner));
        else
            QProcess::execute(QStringLiteral("chattr"), {QLatin1String(refuse ? "+i" : "-i"), path});
    }
    QString path;
    bool refuses = false;
};

QByteArray annotation(const QString& time, const QString& text, const char* protocol = "false")
{
    return "<Annotation Time=\"" + time.toUtf8() + "\"><Text>" + text.toUtf8() + "</Text><Protocol>" + protocol +
           "</Protocol></Annotation>";
}

struct Entry {
    const char* time;
    const char* text;
    const char* protocol;
};

void writeLayer(const QString& path, qint64 created, std::initializer_list<Entry> entries, int age)
{
    QByteArray body;
    for (const Entry& e : entries)
        body += annotation(QString::fromUtf8(e.time), QString::fromUtf8(e.text), e.protocol);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ArrayOfAnnotation Created=\"" +
               QByteArray::number(created) + "\">" + body + "</ArrayOfAnnotation>");
    // Older files first in no listing: fix the modification times, once
    // the bytes are out (closing would write them and touch the time again).
    QVERIFY(file.flush());
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-age), QFileDevice::FileModificationTime));
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList fileTexts(const QString& path)
{
    QDomDocument dom;
    if (!dom.setContent(readFile(path)))
        return {QStringLiteral("<does not parse>")};
    QStringList texts;
    for (QDomElement e = dom.documentElement().firstChildElement(QStringLiteral("Annotation")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("Annotation")))
        texts << e.attribute(QStringLiteral("Time")) + QLatin1Char('|') +
                     e.firstChildElement(QStringLiteral("Text")).text();
    return texts;
}

// Acts on the next modal dialog of type T as soon as it is up.
template <typename T>
void whenModal(std::function<void(T*)> act)
{
    auto* timer = new QTimer;
    timer->setInterval(20);
    auto ticks = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, act, ticks] {
        QWidget* modal = QApplication::activeModalWidget();
        T* dialog = qobject_cast<T*>(modal);
        if (!dialog && ++*ticks < 500)
            return;
        timer->stop();
        timer->deleteLater();
        if (dialog) {
            act(dialog);
        } else {
            // Never hang: whatever came up instead is closed.
            qWarning("expected dialog did not come up (%s)", modal ? modal->metaObject()->className() : "none");
            if (modal)
                modal->close();
        }
    });
    timer->start();
}

void clickButtonLabelled(QMessageBox* box, const QString& label)
{
    for (QAbstractButton* button : box->buttons())
        if (button->text() == label)
            button->click();
}

} // namespace

class TestAnnotationPanel : public QObject {
    Q_OBJECT

private:
    QTemporaryDir* tmp = nullptr;
    QString folder;
    Adnotacje* panel = nullptr;
    ScriptedDialogs* dialogs = nullptr;

    template <typename T>
    T* widget(const char* name) const
    {
        T* found = panel->findChild<T*>(QLatin1String(name));
        if (!found)
            qFatal("no widget %s", name);
        return found;
    }
    QTableView* table() const { return widget<QTableView>("tableAdnot"); }
    QComboBox* combo() const { return widget<QComboBox>("comboBoxFiles"); }
    QFrame* frame() const { return widget<QFrame>("frameAdnProp"); }
    QString file(const char* name) const { return folder + QLatin1Char('/') + QLatin1String(name); }

    QStringList shownTexts() const
    {
        QStringList texts;
        const QAbstractItemModel* model = table()->model();
        for (int row = 0; model && row < model->rowCount(); ++row)
            texts << model->index(row, 0).data().toString() + QLatin1Char(' ') + model->index(row, 1).data().toString();
        return texts;
    }
    int selectedRow() const
    {
        const QModelIndexList rows = table()->selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    }
    void clickRow(int row)
    {
        const QRect rect = table()->visualRect(table()->model()->index(row, 1));
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    }
    void click(const char* button) { QTest::mouseClick(widget<QPushButton>(button), Qt::LeftButton); }
    void typeText(const QString& text)
    {
        QPlainTextEdit* edit = widget<QPlainTextEdit>("plainTextEditChangeAdn");
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        // Key by key, as typed; keyClicks() takes ASCII only.
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
    void doubleClickRow(int row)
    {
        const QPoint centre = table()->visualRect(table()->model()->index(row, 0)).center();
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
        QTest::mouseDClick(table()->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
    }
    QAction* menuAction(const QString& text) const
    {
        for (QAction* action : panel->findChildren<QAction*>())
            if (action->text() == text)
                return action;
        qFatal("no action");
    }

    // The user picks the combo's last item.
    void chooseAddNew()
    {
        combo()->setCurrentIndex(combo()->count() - 2);
        QTest::keyClick(combo(), Qt::Key_Down);
    }

    // One recorder's layer with annotations at 10, 20 and 30 s.
    void loadThreeAnnotations()
    {
        writeLayer(
            file("rec.xml"), 100,
            {{"PT10S", "dziesięć", "false"}, {"PT20S", "dwadzieścia", "true"}, {"PT30S", "trzydzieści", "false"}}, 10);
        panel->loadAdnotationsDir(folder, false);
        QCOMPARE(shownTexts().size(), 3);
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QList<Layer>>();
        // A clerk's locale, whose own time format has no seconds.
        QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    }

    void init()
    {
        tmp = new QTemporaryDir;
        QVERIFY(QDir(tmp->path()).mkdir(QStringLiteral("2015-03-02")));
        folder = tmp->filePath(QStringLiteral("2015-03-02"));
        panel = new Adnotacje;
        dialogs = new ScriptedDialogs;
        panel->setDialogs(dialogs);
        panel->resize(700, 600);
        panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel));
    }
    void cleanup()
    {
        delete panel;
        delete dialogs;
        delete tmp;
    }

    void folderLoad()
    {
        writeLayer(file("a-clerk.xml"), 100, {{"PT10S", "publiczna stara", "true"}}, 40);
        writeLayer(file("b-clerk.xml"), 200, {{"PT20S", "publiczna nowa", "TRUE"}}, 30);
        writeLayer(file("c-judge.xml"), 150, {{"PT30S", "prywatna", "false"}}, 20);
        writeLayer(file("rec.XML"), 300, {{"PT12S", "ABC", "false"}, {"PT25.50S", "abc def", "false"}}, 10);
        QSignalSpy layersShown(panel, &Adnotacje::annShowLayers);
        panel->loadAdnotationsDir(folder, false);

        QCOMPARE(layersShown.size(), 3);
        QCOMPARE(layersShown[0][0].value<QList<Layer>>().size(), 0);
        QCOMPARE(layersShown[1][0].value<QList<Layer>>().size(), 4);
        QCOMPARE(layersShown[2][0].value<QList<Layer>>().size(), 4);
        QCOMPARE(panel->getAnnotationsDir(), folder);

        QStringList items;
        for (int i = 0; i < combo()->count(); ++i)
            items << combo()->itemText(i) + QStringLiteral(" => ") + combo()->itemData(i).toString();
        QCOMPARE(items,
                 (QStringList{
                     QStringLiteral("Adnotacje publiczne \n ") + file("a-clerk.xml") + " => " + file("a-clerk.xml"),
                     QStringLiteral("Adnotacje publiczne 1\n ") + file("b-clerk.xml") + " => " + file("b-clerk.xml"),
                     QStringLiteral("Adnotacje prywatne \n ") + file("c-judge.xml") + " => " + file("c-judge.xml"),
                     QStringLiteral("rec \n ") + file("rec.XML") + " => " + file("rec.XML"),
                     QStringLiteral("[Dodaj nowy ...] => [Dodaj nowy ...]")}));
        QCOMPARE(combo()->toolTip(), file("a-clerk.xml"));
        combo()->setCurrentIndex(4);
        QCOMPARE(combo()->toolTip(), QStringLiteral("[Dodaj nowy ...]"));

        // Only the newest public layer is shown, beside the private and the recorder's.
        QCOMPARE(shownTexts(), (QStringList{"00:00:12 ABC", "00:00:20 publiczna nowa", "00:00:25 abc def",
                                            QString::fromUtf8("00:00:30 prywatna")}));
        const QAbstractItemModel* model = table()->model();
        QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Czas"));
        QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Adnotacja"));
        QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Prot."));
        QCOMPARE(model->index(1, 2).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(model->index(0, 2).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QVERIFY(!(model->flags(model->index(1, 2)) & Qt::ItemIsUserCheckable));
        const QColor expected[] = {QColor(243, 229, 252), QColor(251, 237, 228), QColor(243, 229, 252),
                                   QColor(204, 245, 179)};
        for (int row = 0; row < 4; ++row)
            for (int column = 0; column < 3; ++column)
                QCOMPARE(model->index(row, column).data(Qt::BackgroundRole).value<QColor>(), expected[row]);
        QCOMPARE(table()->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(table()->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(table()->columnWidth(0), 87);

        // The replaced model does not outlive a rebuild.
        QPointer<QAbstractItemModel> old = table()->model();
        QPointer<QItemSelectionModel> oldSelection = table()->selectionModel();
        panel->showAdnotations();
        QVERIFY(old.isNull());
        QVERIFY(oldSelection.isNull());

        // A further public file makes itself the shown public layer.
        writeLayer(file("d-clerk.xml"), 250, {{"PT1S", "najnowsza", "false"}}, 5);
        panel->changeLayerVisible(panel->getLayer(file("a-clerk.xml")).id, true);
        panel->loadAdnotationsFile(file("d-clerk.xml"), true);
        QVERIFY(!panel->getLayer(file("a-clerk.xml")).visible);
        QVERIFY(!panel->getLayer(file("b-clerk.xml")).visible);
        QVERIFY(panel->getLayer(file("d-clerk.xml")).visible);

        // A folder without annotation files leaves only the last item.
        QVERIFY(QDir(tmp->path()).mkdir(QStringLiteral("pusty")));
        panel->loadAdnotationsDir(tmp->filePath(QStringLiteral("pusty")), false);
        QCOMPARE(combo()->count(), 1);
        QCOMPARE(combo()->itemText(0), QStringLiteral("[Dodaj nowy ...]"));
        QCOMPARE(shownTexts(), QStringList());
        click("btPrintAdn");
        click("btSavePdfAdn");
        QCOMPARE(dialogs->texts(QStringLiteral("information")),
                 (QStringList{"Brak adnotacji do wydruku", "Brak adnotacji do zapisu"}));
    }

    void filters()
    {
        writeLayer(file("rec.xml"), 100,
                   {{"PT10.20S", "ABC", "false"}, {"PT10.90S", "abc", "false"}, {"PT11S", "xabcx", "false"}}, 20);
        writeLayer(file("j-judge.xml"), 100, {{"PT10.5S", "abc sędzia", "false"}}, 10);
        panel->loadAdnotationsDir(folder, false);
        QCOMPARE(shownTexts().size(), 4);

        QTest::keyClicks(widget<QLineEdit>("lineEditAdnot"), QStringLiteral("abc"));
        QTest::keyClick(widget<QLineEdit>("lineEditAdnot"), Qt::Key_Return);
        QCOMPARE(shownTexts(), (QStringList{"00:00:10 abc sędzia", "00:00:10 abc", "00:00:11 xabcx"}));

        widget<QDateTimeEdit>("timeEdit")->setTime(QTime(0, 0, 10));
        click("btFilter");
        QCOMPARE(shownTexts(), (QStringList{"00:00:10 abc sędzia", "00:00:10 abc"}));

        click("btFilterReset");
        QCOMPARE(widget<QLineEdit>("lineEditAdnot")->text(), QString());
        QCOMPARE(widget<QDateTimeEdit>("timeEdit")->text(), QStringLiteral("00:00:00"));
        QCOMPARE(shownTexts().size(), 4);

        // Filtered while hidden: the layer stays out until the filter runs again.
        const int judge = panel->getLayer(file("j-judge.xml")).id;
        panel->changeLayerVisible(judge, false);
        QCOMPARE(shownTexts().size(), 3);
        widget<QLineEdit>("lineEditAdnot")->setText(QStringLiteral("abc"));
        click("btFilter");
        panel->changeLayerVisible(judge, true);
        QCOMPARE(shownTexts(), (QStringList{"00:00:10 abc", "00:00:11 xabcx"}));
        click("btFilter");
        QCOMPARE(shownTexts().size(), 3);
    }

    void followAndSeek()
    {
        loadThreeAnnotations();
        QSignalSpy seeks(panel, &Adnotacje::annSeek);
        panel->spyAdnotations(15000);
        QCOMPARE(selectedRow(), -1); // follow mode is off
        panel->changeSpyOption(true);
        QCOMPARE(selectedRow(), -1);
        const struct {
            qint64 position;
            int row;
        } steps[] = {{15000, 0}, {20000, 0}, {20001, 1}, {5000, 1}, {31000, 1}, {29999, 1}, {10001, 0}};
        for (const auto& step : steps) {
            panel->spyAdnotations(step.position);
            QCOMPARE(selectedRow(), step.row);
        }

        panel->changeOffset(5);
        QCOMPARE(selectedRow(), 0);
        panel->spyAdnotations(15000); // target 20 s
        QCOMPARE(selectedRow(), 0);
        panel->spyAdnotations(15001);
        QCOMPARE(selectedRow(), 1);

        panel->changeOffset(-5);
        panel->spyAdnotations(3000); // target -2 s: the first row, so nothing changes
        QCOMPARE(selectedRow(), 1);
        panel->spyAdnotations(25000); // target 20 s
        QCOMPARE(selectedRow(), 0);
        panel->spyAdnotations(35000); // target 30 s
        QCOMPARE(selectedRow(), 1);

        // Filtered-out rows are not followed.
        widget<QLineEdit>("lineEditAdnot")->setText(QString::fromUtf8("trzydzieści"));
        click("btFilter");
        panel->spyAdnotations(100000);
        QCOMPARE(selectedRow(), -1);

        // Seeks add the offset; the row the user clicked stays highlighted.
        click("btFilterReset");
        panel->changeOffset(5);
        doubleClickRow(0);
        QCOMPARE(seeks.size(), 1);
        QCOMPARE(seeks[0][0].toLongLong(), qint64(15000));
        panel->changeOffset(-5);
        doubleClickRow(2);
        QCOMPARE(seeks.last()[0].toLongLong(), qint64(25000));
        panel->spyAdnotations(25000);
        QCOMPARE(selectedRow(), 2);
    }

    void addThroughWidgets()
    {
        loadThreeAnnotations();
        const QString path = file("rec.xml");
        // Before any position report the time is 0.
        click("btAddAdn");
        QVERIFY(!frame()->isHidden());
        QVERIFY(widget<QPushButton>("btSaveEditAdn")->isHidden());
        QCOMPARE(widget<QLineEdit>("lineEditFromFile")->text(), path);
        typeText(QStringLiteral("na początku"));
        click("btSaveAddAdn");
        QVERIFY(frame()->isHidden());
        QCOMPARE(fileTexts(path).first(), QString::fromUtf8("PT0.0S|na początku"));
        QCOMPARE(shownTexts().first(), QString::fromUtf8("00:00:00 na początku"));
        const QList<CAdnotation> shown = panel->getActivAnnotations();
        QCOMPARE(shown.size(), 4);
        for (int row = 0; row < shown.size(); ++row) {
            QCOMPARE(shown[row].row, row);
            QCOMPARE(panel->getAdnotations().value(shown[row].index).text, shown[row].text);
        }

        // The last reported position, without the offset; shown despite the filter.
        widget<QLineEdit>("lineEditAdnot")->setText(QStringLiteral("nic"));
        click("btFilter");
        QCOMPARE(shownTexts(), QStringList());
        panel->changeOffset(5);
        panel->spyAdnotations(12300);
        click("btAddAdn");
        QCOMPARE(widget<QDateTimeEdit>("timeEdit2")->time(), QTime(0, 0, 12));
        typeText(QStringLiteral("świadek <wchodzi> & siada"));
        click("btSaveAddAdn");
        QCOMPARE(fileTexts(path)[2], QString::fromUtf8("PT12.30S|świadek <wchodzi> & siada"));
        QCOMPARE(shownTexts(), QStringList{QString::fromUtf8("00:00:12 świadek <wchodzi> & siada")});
        const QList<CAdnotation> all = panel->getAdnotations();
        for (int i = 0; i < all.size(); ++i)
            QCOMPARE(all[i].index, i);
        QCOMPARE(all[2].timeMs, qint64(12300));

        // A failed write keeps the frame and memory.
        click("btFilterReset");
        click("btAddAdn");
        typeText(QStringLiteral("nie zapisze się"));
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir().mkdir(path));
        click("btSaveAddAdn");
        QVERIFY(!frame()->isHidden());
        QCOMPARE(dialogs->texts(QStringLiteral("message")).last(),
                 QString::fromUtf8("Nie udało się wstawić adnotacji.\n%1 nie jest zwykłym plikiem.").arg(path));
        QCOMPARE(panel->getAdnotations().size(), 5);
        click("btDiscardAdn");
        QVERIFY(frame()->isHidden());
    }

    void editWhileFollowing()
    {
        loadThreeAnnotations();
        const QString path = file("rec.xml");
        panel->changeSpyOption(true);
        // Follow mode leaves the row the user picked (a click, then keys)
        // alone for a while: the button edits that row.
        clickRow(0);
        QTest::keyClick(table(), Qt::Key_Down);
        QTest::keyClick(table(), Qt::Key_Down);
        panel->spyAdnotations(15000);
        QCOMPARE(selectedRow(), 2);
        click("btEditAdn");
        QCOMPARE(widget<QPlainTextEdit>("plainTextEditChangeAdn")->toPlainText(), QString::fromUtf8("trzydzieści"));
        QCOMPARE(widget<QDateTimeEdit>("timeEdit2")->text(), QStringLiteral("00:00:30"));
        QCOMPARE(selectedRow(), 2);
        typeText(QStringLiteral("POPRAWKA"));
        click("btSaveEditAdn");
        QCOMPARE(fileTexts(path),
                 (QStringList{QString::fromUtf8("PT10S|dziesięć"), QString::fromUtf8("PT20S|dwadzieścia"),
                              QStringLiteral("PT30S|POPRAWKA")}));

        // After the pause follow mode moves the selection, and the row shown
        // selected is the one the button edits: no earlier pick remains.
        QTRY_VERIFY_WITH_TIMEOUT((panel->spyAdnotations(15000), selectedRow() == 0), 3 * Adnotacje::FollowPauseMs);
        click("btEditAdn");
        QCOMPARE(selectedRow(), 0);
        QVERIFY(!frame()->isHidden());
        QVERIFY(widget<QPushButton>("btSaveAddAdn")->isHidden());
        QCOMPARE(widget<QPlainTextEdit>("plainTextEditChangeAdn")->toPlainText(), QString::fromUtf8("dziesięć"));
        QCOMPARE(widget<QDateTimeEdit>("timeEdit2")->text(), QStringLiteral("00:00:10"));
        typeText(QStringLiteral("dziesięć, poprawione"));
        // Playback leaves the selection alone while the user types.
        panel->spyAdnotations(25000);
        QCOMPARE(selectedRow(), 0);
        table()->clearSelection();
        click("btSaveEditAdn");
        QVERIFY(frame()->isHidden());
        QCOMPARE(fileTexts(path),
                 (QStringList{QString::fromUtf8("PT10S|dziesięć, poprawione"), QString::fromUtf8("PT20S|dwadzieścia"),
                              QStringLiteral("PT30S|POPRAWKA")}));
        QCOMPARE(shownTexts()[0], QString::fromUtf8("00:00:10 dziesięć, poprawione"));
        QCOMPARE(shownTexts()[1], QString::fromUtf8("00:00:20 dwadzieścia"));
        QCOMPARE(panel->getAdnotations()[0].text, QString::fromUtf8("dziesięć, poprawione"));
        QCOMPARE(panel->getActivAnnotations()[0].text, QString::fromUtf8("dziesięć, poprawione"));

        // A click on another row while editing opens that one instead.
        clickRow(0);
        click("btEditAdn");
        clickRow(2);
        QCOMPARE(widget<QPlainTextEdit>("plainTextEditChangeAdn")->toPlainText(), QStringLiteral("POPRAWKA"));
        typeText(QStringLiteral("koniec"));
        click("btSaveEditAdn");
        QCOMPARE(fileTexts(path).last(), QStringLiteral("PT30S|koniec"));

        // Changed elsewhere meanwhile: the file is not rewritten and the user is told.
        clickRow(1);
        click("btEditAdn");
        QFile peer(path);
        QVERIFY(peer.open(QIODevice::ReadOnly));
        const QByteArray changed = peer.readAll().replace("dwadzieścia", "inny tekst");
        peer.close();
        QVERIFY(peer.open(QIODevice::WriteOnly | QIODevice::Truncate));
        peer.write(changed);
        peer.close();
        typeText(QStringLiteral("moje"));
        click("btSaveEditAdn");
        QVERIFY(!frame()->isHidden());
        QCOMPARE(readFile(path), changed);
        QCOMPARE(dialogs->texts(QStringLiteral("message")).last(),
                 QString::fromUtf8("Nie udało się zmodyfikować adnotacji.\nW pliku nie ma już tej adnotacji."));
        QCOMPARE(panel->getAdnotations()[1].text, QString::fromUtf8("dwadzieścia"));
    }

    void deleteThroughMenu()
    {
        loadThreeAnnotations();
        const QString path = file("rec.xml");
        // Chosen without a touch of the table, which would hold follow mode below.
        table()->selectRow(1);
        dialogs->answers = {false};
        menuAction(QString::fromUtf8("Usuń"))->trigger();
        QCOMPARE(fileTexts(path).size(), 3);
        dialogs->answers = {true};
        menuAction(QString::fromUtf8("Usuń"))->trigger();
        QCOMPARE(dialogs->texts(QStringLiteral("question")).last(),
                 QString::fromUtf8("Czy na pewno usunąć adnotację 00:00:20 „dwadzieścia”?"));
        QCOMPARE(fileTexts(path),
                 (QStringList{QString::fromUtf8("PT10S|dziesięć"), QString::fromUtf8("PT30S|trzydzieści")}));
        QCOMPARE(shownTexts(),
                 (QStringList{QString::fromUtf8("00:00:10 dziesięć"), QString::fromUtf8("00:00:30 trzydzieści")}));
        const QList<CAdnotation> shown = panel->getActivAnnotations();
        for (int i = 0; i < shown.size(); ++i) {
            QCOMPARE(shown[i].row, i);
            QCOMPARE(shown[i].index, i);
        }
        // Follow mode as for a table of the two that remain.
        panel->changeSpyOption(true);
        panel->spyAdnotations(25000);
        QCOMPARE(selectedRow(), 0);
        // The last one is still the one that is edited.
        clickRow(1);
        click("btEditAdn");
        typeText(QStringLiteral("ostatnia"));
        click("btSaveEditAdn");
        QCOMPARE(fileTexts(path).last(), QStringLiteral("PT30S|ostatnia"));

        // Copy to the clipboard.
        clickRow(0);
        menuAction(QStringLiteral("Kopiuj"))->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QString::fromUtf8("dziesięć"));

        // Gone from the file meanwhile: memory keeps it and the user is told.
        QFile::remove(path);
        writeLayer(path, 100, {{"PT30S", "ostatnia", "false"}}, 0);
        clickRow(0);
        dialogs->answers = {true};
        menuAction(QString::fromUtf8("Usuń"))->trigger();
        QCOMPARE(dialogs->texts(QStringLiteral("message")).last(),
                 QString::fromUtf8("Nie udało się usunąć adnotacji.\nW pliku nie ma już tej adnotacji."));
        QCOMPARE(shownTexts().size(), 2);
        QCOMPARE(fileTexts(path), QStringList{QStringLiteral("PT30S|ostatnia")});
    }

    void contextMenu()
    {
        loadThreeAnnotations();
        const auto rightClick = [this](int row) {
            const QPoint at = table()->visualRect(table()->model()->index(row, 1)).center();
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, table()->viewport()->mapToGlobal(at));
            QApplication::sendEvent(table()->viewport(), &event);
        };
        // Without a selection no menu opens (and nothing waits for one).
        rightClick(0);
        QVERIFY(!QApplication::activePopupWidget());

        QStringList offered;
        auto* closer = new QTimer(this);
        connect(closer, &QTimer::timeout, [&offered, closer] {
            if (QMenu* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* action : menu->actions())
                    offered << action->text();
                closer->stop();
                menu->close();
            }
        });
        closer->start(20);
        clickRow(1);
        rightClick(1);
        QCOMPARE(offered, (QStringList{"Kopiuj", QString::fromUtf8("Usuń"), "Drukuj"}));
        delete closer;
    }

    void readOnlyLayerIsCopied()
    {
        writeLayer(file("s-clerk.xml"), 100, {{"PT5S", "pierwsza", "false"}, {"PT8S", "druga", "false"}}, 20);
        writeLayer(file("rec.xml"), 100, {{"PT1S", "zapis protokolanta", "false"}, {"PT6S", "też", "false"}}, 10);
        panel->loadAdnotationsDir(folder, false);
        const QByteArray clerkBytes = readFile(file("s-clerk.xml"));
        QCOMPARE(shownTexts().size(), 4);

        // Editing "druga" (row 3) copies the layer; the copy's record is found
        // again. Follow mode, which would highlight the writable row before
        // it, leaves the user's choice alone.
        panel->changeSpyOption(true);
        clickRow(3);
        panel->spyAdnotations(6500);
        QCOMPARE(selectedRow(), 3);
        dialogs->answers = {true};
        dialogs->fileNames = QStringList{file("moja")};
        click("btEditAdn");
        const QString copy = file("moja.xml");
        QCOMPARE(widget<QLineEdit>("lineEditFromFile")->text(), copy);
        QCOMPARE(widget<QPlainTextEdit>("plainTextEditChangeAdn")->toPlainText(), QStringLiteral("druga"));
        QVERIFY(panel->getLayer(copy).visible);
        QCOMPARE(combo()->currentData().toString(), copy);
        QCOMPARE(selectedRow(), 3);
        typeText(QStringLiteral("druga, moja wersja"));
        click("btSaveEditAdn");
        QCOMPARE(fileTexts(copy), (QStringList{"PT5S|pierwsza", "PT8S|druga, moja wersja"}));
        QCOMPARE(readFile(file("s-clerk.xml")), clerkBytes);
        QCOMPARE(shownTexts()[3], QStringLiteral("00:00:08 druga, moja wersja"));

        // A click on a read-only row while editing closes the frame.
        panel->changeLayerVisible(panel->getLayer(file("s-clerk.xml")).id, true);
        clickRow(0);
        click("btEditAdn");
        QVERIFY(!frame()->isHidden());
        QStringList texts = shownTexts();
        const int clerkRow = texts.indexOf(QStringLiteral("00:00:05 pierwsza"));
        QVERIFY(clerkRow >= 0);
        clickRow(clerkRow);
        QVERIFY(frame()->isHidden());

        // Adding to a read-only layer, declined: nothing is written.
        combo()->setCurrentIndex(combo()->findData(file("s-clerk.xml")));
        dialogs->answers = {false};
        click("btAddAdn");
        QVERIFY(frame()->isHidden());
        QCOMPARE(readFile(file("s-clerk.xml")), clerkBytes);

        // Accepted: the addition goes into the copy, which stays the chosen
        // layer for the next one.
        combo()->setCurrentIndex(combo()->findData(file("s-clerk.xml")));
        const QString added = file("dodane.xml");
        dialogs->answers = {true};
        dialogs->fileNames = QStringList{added};
        panel->spyAdnotations(9000);
        click("btAddAdn");
        QCOMPARE(widget<QLineEdit>("lineEditFromFile")->text(), added);
        QCOMPARE(combo()->currentData().toString(), added);
        typeText(QStringLiteral("trzecia"));
        click("btSaveAddAdn");
        click("btAddAdn");
        QCOMPARE(widget<QLineEdit>("lineEditFromFile")->text(), added);
        typeText(QStringLiteral("czwarta"));
        click("btSaveAddAdn");
        QCOMPARE(fileTexts(added), (QStringList{"PT5S|pierwsza", "PT8S|druga", "PT9S|trzecia", "PT9S|czwarta"}));
        QCOMPARE(readFile(file("s-clerk.xml")), clerkBytes);

        // Only the last item in the combo: that text counts as a read-only path.
        const int questions = dialogs->texts(QStringLiteral("question")).size();
        combo()->setCurrentIndex(combo()->count() - 1);
        dialogs->answers = {true};
        dialogs->fileNames = QStringList{file("z-brak.xml")};
        click("btAddAdn");
        QCOMPARE(dialogs->texts(QStringLiteral("question")).size(), questions + 1);
        QVERIFY(frame()->isHidden());
        QVERIFY(!QFile::exists(file("z-brak.xml")));
    }

    void copiedRecordsMoveRows()
    {
        // Newest first: the public layer gets id 1 and the private one id 2,
        // so at equal times their rows come first until they are copied.
        writeLayer(file("rec.xml"), 100, {{"PT5S", "protokolant", "false"}}, 30);
        writeLayer(file("p-judge.xml"), 100, {{"PT5S", "prywatna", "false"}}, 20);
        writeLayer(file("s-clerk.xml"), 100, {{"PT5S", "publiczna", "false"}}, 10);
        QVERIFY(QFile::setPermissions(file("p-judge.xml"), QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        panel->loadAdnotationsDir(folder, false);
        QCOMPARE(shownTexts(), (QStringList{"00:00:05 publiczna", "00:00:05 prywatna", "00:00:05 protokolant"}));
        const QByteArray clerkBytes = readFile(file("s-clerk.xml"));
        const QByteArray judgeBytes = readFile(file("p-judge.xml"));
        const QByteArray recorderBytes = readFile(file("rec.xml"));

        clickRow(0);
        dialogs->answers = {true};
        dialogs->fileNames = QStringList{file("publiczna-kopia.xml")};
        click("btEditAdn");
        QCOMPARE(shownTexts(), (QStringList{"00:00:05 prywatna", "00:00:05 protokolant", "00:00:05 publiczna"}));
        QCOMPARE(selectedRow(), 2);
        QCOMPARE(widget<QLineEdit>("lineEditFromFile")->text(), file("publiczna-kopia.xml"));
        typeText(QStringLiteral("publiczna poprawiona"));
        click("btSaveEditAdn");
        QCOMPARE(fileTexts(file("publiczna-kopia.xml")), QStringList{"PT5S|publiczna poprawiona"});
        QCOMPARE(shownTexts(),
                 (QStringList{"00:00:05 prywatna", "00:00:05 protokolant", "00:00:05 publiczna poprawiona"}));

        clickRow(0);
        dialogs->answers = {true, true};
        dialogs->fileNames = QStringList{file("prywatna-kopia.xml")};
        menuAction(QString::fromUtf8("Usuń"))->trigger();
        QCOMPARE(fileTexts(file("prywatna-kopia.xml")), QStringList());
        QCOMPARE(shownTexts(), (QStringList{"00:00:05 protokolant", "00:00:05 publiczna poprawiona"}));
        const QList<CAdnotation> shown = panel->getActivAnnotations();
        for (int i = 0; i < shown.size(); ++i)
            QCOMPARE(panel->getAdnotations().value(shown[i].index).text, shown[i].text);

        QCOMPARE(readFile(file("s-clerk.xml")), clerkBytes);
        QCOMPARE(readFile(file("p-judge.xml")), judgeBytes);
        QCOMPARE(readFile(file("rec.xml")), recorderBytes);
    }

    void layerTurnsReadOnlyWhileOpen()
    {
        // Made read-only while the frame is open: the save goes through a copy.
        loadThreeAnnotations();
        const QString path = file("rec.xml");
        clickRow(0);
        click("btEditAdn");
        typeText(QStringLiteral("zmiana"));
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        const QByteArray before = readFile(path);
        dialogs->answers = {true};
        dialogs->fileNames = QStringList{file("kopia.xml")};
        click("btSaveEditAdn");
        QVERIFY(frame()->isHidden());
        QCOMPARE(readFile(path), before);
        QCOMPARE(fileTexts(file("kopia.xml")).first(), QStringLiteral("PT10S|zmiana"));
        QCOMPARE(dialogs->texts(QStringLiteral("question")).size(), 1);

        combo()->setCurrentIndex(combo()->findData(file("kopia.xml")));
        panel->spyAdnotations(40000);
        click("btAddAdn");
        typeText(QStringLiteral("na końcu"));
        QVERIFY(QFile::setPermissions(file("kopia.xml"), QFileDevice::ReadOwner));
        const QByteArray copyBefore = readFile(file("kopia.xml"));
        dialogs->answers = {true};
        dialogs->fileNames = QStringList{file("kopia2.xml")};
        click("btSaveAddAdn");
        QVERIFY(frame()->isHidden());
        QCOMPARE(readFile(file("kopia.xml")), copyBefore);
        QCOMPARE(fileTexts(file("kopia2.xml")).last(), QString::fromUtf8("PT40S|na końcu"));
        QCOMPARE(dialogs->texts(QStringLiteral("question")).size(), 2);
    }

    void folderRefusingNewFilesMakesTheLayerReadOnly()
    {
        // The file may be written, but its rewrite needs a new file beside it.
        loadThreeAnnotations();
        const QString path = file("rec.xml");
        const QByteArray before = readFile(path);
        FolderRefusingNewFiles locked(folder);
        if (!locked.refuses)
            QSKIP("this system cannot make a folder refuse new files");
        QVERIFY(panel->isAnnotationReadonly(path));
        // Adding offers the copy, as for any read-only layer, proposed in the
        // user's documents folder.
        QTemporaryDir config;
        const QString documents = tmp->filePath(QStringLiteral("dokumenty"));
        QVERIFY(QDir().mkdir(documents));
        QFile dirs(config.filePath(QStringLiteral("user-dirs.dirs")));
        QVERIFY(dirs.open(QIODevice::WriteOnly));
        dirs.write("XDG_DOCUMENTS_DIR=\"" + QFile::encodeName(documents) + "\"\n");
        dirs.close();
        const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        const QString copy = tmp->filePath(QStringLiteral("kopia.xml"));
        panel->spyAdnotations(15000);
        dialogs->answers = {true};
        dialogs->fileNames = QStringList{copy};
        click("btAddAdn");
        qputenv("XDG_CONFIG_HOME", configHome);
        QCOMPARE(dialogs->proposedNames, QStringList{documents + QStringLiteral("/2015-03-02.xml")});
        QCOMPARE(dialogs->texts(QStringLiteral("question")).size(), 1);
        typeText(QStringLiteral("w kopii"));
        click("btSaveAddAdn");
        QVERIFY(frame()->isHidden());
        QVERIFY(dialogs->texts(QStringLiteral("message")).isEmpty());
        QCOMPARE(fileTexts(copy).size(), 4);
        QVERIFY(fileTexts(copy)[1].endsWith(QStringLiteral("|w kopii")));
        QCOMPARE(readFile(path), before);
    }

    void newFileFromCombo()
    {
        // Before any folder load: nothing, and the item stays current.
        panel->manageLayers();
        QMetaObject::invokeMethod(combo(), "activated", Q_ARG(QString, QStringLiteral("[Dodaj nowy ...]")));
        QVERIFY(dialogs->shown.isEmpty());
        QCOMPARE(combo()->currentIndex(), 0);

        loadThreeAnnotations();
        dialogs->fileNames = QStringList{file("nowy.xml")};
        chooseAddNew();
        QCOMPARE(combo()->currentIndex(), 0);
        QCOMPARE(dialogs->proposedNames, QStringList{file("2015-03-02.xml")});
        QCOMPARE(dialogs->shown.last().title, QStringLiteral("Nowy plik adnotacji"));
        QCOMPARE(panel->getLayers().size(), 2);
        QVERIFY(panel->isAnnotFile(file("nowy.xml")));
        QCOMPARE(combo()->count(), 3);

        // An existing file is refused, never emptied.
        const QByteArray before = readFile(file("rec.xml"));
        dialogs->fileNames = QStringList{file("rec.xml")};
        chooseAddNew();
        QCOMPARE(readFile(file("rec.xml")), before);
        QCOMPARE(dialogs->texts(QStringLiteral("critical")).size(), 1);
        QCOMPARE(panel->getLayers().size(), 2);

        // Cancelled: nothing.
        chooseAddNew();
        QCOMPARE(panel->getLayers().size(), 2);

        // A hidden folder and the root give a plain, visible name.
        const QString hidden = tmp->filePath(QStringLiteral(".ukryty"));
        QVERIFY(QDir().mkdir(hidden));
        for (const QString& dir : {hidden, QStringLiteral("/")}) {
            panel->loadAdnotationsDir(dir, true);
            QMetaObject::invokeMethod(combo(), "activated", Q_ARG(QString, QStringLiteral("[Dodaj nowy ...]")));
        }
        // (The root lies elsewhere when the user may not write there.)
        const QStringList proposed = dialogs->proposedNames.mid(dialogs->proposedNames.size() - 2);
        QCOMPARE(proposed.first(), hidden + QStringLiteral("/ukryty.xml"));
        QCOMPARE(QFileInfo(proposed.last()).fileName(), QStringLiteral("adnotacje.xml"));

        // A taken name is never proposed.
        panel->loadAdnotationsDir(folder, true);
        QVERIFY(QFile::link(file("rec.xml"), file("2015-03-02.xml")));
        chooseAddNew();
        QCOMPARE(dialogs->proposedNames.last(), file("2015-03-02-2.xml"));
    }

    void editInProgressAndFont()
    {
        loadThreeAnnotations();
        QVERIFY(!panel->editAnnonInProgress());
        QVERIFY(dialogs->shown.isEmpty());
        click("btAddAdn");
        dialogs->answers = {false};
        QVERIFY(panel->editAnnonInProgress());
        QVERIFY(!frame()->isHidden());
        dialogs->answers = {true};
        QVERIFY(!panel->editAnnonInProgress());
        QVERIFY(frame()->isHidden());
        QCOMPARE(dialogs->texts(QStringLiteral("question")).first(),
                 QString::fromUtf8("Trwa edycja adnotacji! Czy chcesz porzucić wprowadzane zmiany"));

        QFont font = panel->font();
        font.setPointSize(21);
        panel->setGuiFont(font);
        QCOMPARE(table()->font().pointSize(), 21);
        QCOMPARE(table()->styleSheet(), QStringLiteral("QTableView {selection-background-color: #0080FF;}"));
    }

    // The real boxes, answered as a user would.
    void realDialogs()
    {
        writeLayer(file("k-clerk.xml"), 100, {{"PT5S", "publiczna", "false"}}, 20);
        writeLayer(file("rec.xml"), 100, {{"PT1S", "jedna", "false"}}, 10);
        panel->setDialogs(nullptr);
        panel->loadAdnotationsDir(folder, false);

        combo()->setCurrentIndex(combo()->findData(file("rec.xml")));
        click("btAddAdn");
        whenModal<QMessageBox>([](QMessageBox* box) {
            QCOMPARE(box->windowTitle(), QStringLiteral("Pytanie"));
            QCOMPARE(box->defaultButton()->text(), QStringLiteral("Nie"));
            clickButtonLabelled(box, QStringLiteral("Nie"));
        });
        QVERIFY(panel->editAnnonInProgress());
        whenModal<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
        QVERIFY(panel->editAnnonInProgress());
        whenModal<QMessageBox>([](QMessageBox* box) { clickButtonLabelled(box, QStringLiteral("Tak")); });
        QVERIFY(!panel->editAnnonInProgress());

        // A copy named as a file that exists: no question whether to replace
        // it, only the refusal naming it, and that file is left as it was.
        const int clerkRow = shownTexts().indexOf(QStringLiteral("00:00:05 publiczna"));
        clickRow(clerkRow);
        const QString taken = file("rec.xml");
        QString afterName;
        whenModal<QMessageBox>([taken, &afterName](QMessageBox* box) {
            whenModal<QFileDialog>([taken, &afterName](QFileDialog* dialog) {
                whenModal<QMessageBox>([&afterName](QMessageBox* next) {
                    afterName = next->text();
                    QWidget* over = next->parentWidget();
                    next->reject();
                    // A replace question is left with its dialog.
                    if (auto* files = qobject_cast<QFileDialog*>(over))
                        files->reject();
                });
                dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(taken);
                QMetaObject::invokeMethod(dialog, "accept");
            });
            QTest::keyClick(box, Qt::Key_Return);
        });
        menuAction(QString::fromUtf8("Usuń"))->trigger();
        QCOMPARE(afterName, QString::fromUtf8("Nie udało się skopiować pliku\nPlik %1 już istnieje.").arg(taken));
        QCOMPARE(fileTexts(taken), QStringList{"PT1S|jedna"});
        QCOMPARE(shownTexts().indexOf(QStringLiteral("00:00:05 publiczna")), clerkRow);

        // Delete from the read-only layer: copy question, file dialog, delete question.
        clickRow(clerkRow);
        const QString copy = file("kopia.xml");
        whenModal<QMessageBox>([copy](QMessageBox* box) {
            QVERIFY(box->text().startsWith(QString::fromUtf8("Plik dla tej warstwy jest tylko do odczytu.\n")));
            QCOMPARE(box->defaultButton()->text(), QStringLiteral("Tak"));
            whenModal<QFileDialog>([copy](QFileDialog* dialog) {
                QCOMPARE(dialog->windowTitle(), QString::fromUtf8("Utwórz kopię adnotacji"));
                whenModal<QMessageBox>([](QMessageBox* question) {
                    QCOMPARE(question->text(),
                             QString::fromUtf8("Czy na pewno usunąć adnotację 00:00:05 „publiczna”?"));
                    QTest::keyClick(question, Qt::Key_Return);
                });
                QLineEdit* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                QVERIFY(name);
                name->setText(copy);
                QMetaObject::invokeMethod(dialog, "accept");
            });
            QTest::keyClick(box, Qt::Key_Return);
        });
        menuAction(QString::fromUtf8("Usuń"))->trigger();
        QCOMPARE(fileTexts(copy), QStringList());
        QCOMPARE(fileTexts(file("k-clerk.xml")), QStringList{"PT5S|publiczna"});
        QVERIFY(!shownTexts().contains(QStringLiteral("00:00:05 publiczna")));
    }
};

QTEST_MAIN(TestAnnotationPanel)
#include "tst_annotation_panel.moc"
