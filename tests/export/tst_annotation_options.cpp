// The annotation options panel on screen: its layers table, its check boxes,
// its offset and follow controls and the signals they send.

#include "Annotations/AnnotationOptions.h"
#include "Annotations/Layer.h"
#include "ExportTestHelpers.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTableView>
#include <QTranslator>
#include <QtTest>

using namespace ExportTest;

namespace {

Layer makeLayer(int id, const QString& path, const QString& copyOf, qint64 created, bool visible = true)
{
    Layer layer(id, path);
    layer.setLayerType(copyOf, path);
    layer.created = created;
    layer.visible = visible;
    return layer;
}

// Seven layers of every kind, not in their order.
QList<Layer> mixedLayers()
{
    Layer::nbAnnPub = Layer::nbAnnPriv = Layer::nbAnnProt = 0;
    const Layer publicLayer = makeLayer(1, QStringLiteral("/rec/2015-01-01-clerk.xml"), QString(), 200);
    const Layer publicCopy = makeLayer(2, QStringLiteral("/rec/kopia.xml"), QStringLiteral("/rec/2015-01-01-clerk.xml"),
                                       50, false);
    const Layer privateLayer = makeLayer(3, QStringLiteral("/rec/a-judge.xml"), QString(), 100);
    const Layer secondPrivate = makeLayer(4, QStringLiteral("/rec/b-judge.xml"), QString(), 300, false);
    const Layer notes1 = makeLayer(5, QStringLiteral("/rec/p1.xml"), QString(), 10);
    const Layer notes2 = makeLayer(6, QStringLiteral("/rec/p2.xml"), QString(), 20);
    const Layer notes3 = makeLayer(7, QStringLiteral("/rec/p3.xml"), QString(), 30);
    return {notes3, privateLayer, publicCopy, publicLayer, notes1, secondPrivate, notes2};
}

// Marks every text it is asked for in one context, to show which texts go
// through the translation and under which context.
class MarkingTranslator : public QTranslator {
public:
    QString translate(const char* context, const char* sourceText, const char*, int) const override
    {
        if (qstrcmp(context, "AnnotationOptions") != 0)
            return QString();
        return QStringLiteral("#") + QString::fromUtf8(sourceText);
    }
    bool isEmpty() const override { return false; }
};

} // namespace

class TestAnnotationOptions : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { applicationFont = QApplication::font(); }

    void init()
    {
        panel = new AnnotationOptions;
        table = panel->findChild<QTableView*>(QStringLiteral("tableLayers"));
        QVERIFY(table);
        panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel));
    }

    void cleanup()
    {
        delete panel;
        QApplication::setFont(applicationFont);
    }

    void startsEmpty()
    {
        QCOMPARE(panel->width(), 400);
        QCOMPARE(panel->getSpinOffset(), 0);
        QVERIFY(!panel->findChild<QCheckBox*>(QStringLiteral("checkSpy"))->isChecked());
        QAbstractItemModel* model = table->model();
        QCOMPARE(model->rowCount(), 0);
        QCOMPARE(model->columnCount(), 3);
        QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QString());
        QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Nr"));
        QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Nazwa"));
    }

    void formAsDesigned()
    {
        QCOMPARE(panel->objectName(), QStringLiteral("AnnotationOptions"));
        QCOMPARE(panel->windowTitle(), QStringLiteral("Form"));
        QCOMPARE(panel->minimumWidth(), 400);
        QCOMPARE(panel->maximumWidth(), 400);
        QCOMPARE(panel->layout()->objectName(), QStringLiteral("verticalLayout_2"));
        QCOMPARE(panel->layout()->contentsMargins().left(), 0);

        auto* frame = panel->findChild<QFrame*>(QStringLiteral("frame"));
        QVERIFY(frame);
        QCOMPARE(frame->frameShape(), QFrame::Box);
        QCOMPARE(frame->frameShadow(), QFrame::Raised);
        const auto label = [this](const char* name) { return panel->findChild<QLabel*>(QLatin1String(name)); };
        QCOMPARE(label("label_3")->text(), QStringLiteral("Przesunięcie adnotacji względem czasu [s]"));
        QVERIFY(label("label_3")->wordWrap());
        QCOMPARE(label("label_3")->alignment() & (Qt::AlignHorizontal_Mask | Qt::AlignVertical_Mask),
                 Qt::AlignLeft | Qt::AlignVCenter);
        QCOMPARE(label("label_4")->text(), QStringLiteral("Śledzenie adnotacji"));
        QCOMPARE(label("label")->text(), QStringLiteral("Otwarte pliki (warstwy) adnotacji"));
        QCOMPARE(label("label")->font().weight(), int(QFont::Normal));
        QVERIFY(!label("label")->font().underline());

        auto* spin = panel->findChild<QSpinBox*>(QStringLiteral("spinOffset"));
        QCOMPARE(spin->minimum(), -1000);
        QCOMPARE(spin->maximum(), 1000);
        QVERIFY(spin->prefix().isEmpty() && spin->suffix().isEmpty());
        QVERIFY(panel->findChild<QCheckBox*>(QStringLiteral("checkSpy"))->text().isEmpty());
        QCOMPARE(table->horizontalHeader()->defaultSectionSize(), 100);
        QCOMPARE(table->verticalHeader()->defaultSectionSize(), 60);
        QVERIFY(!table->verticalHeader()->cascadingSectionResizes());

        // The form's texts, and only those, are translated as "AnnotationOptions".
        MarkingTranslator translator;
        QApplication::installTranslator(&translator);
        AnnotationOptions translated;
        QApplication::removeTranslator(&translator);
        QCOMPARE(translated.windowTitle(), QStringLiteral("#Form"));
        QCOMPARE(translated.findChild<QLabel*>(QStringLiteral("label_4"))->text(),
                 QStringLiteral("#Śledzenie adnotacji"));
        QCOMPARE(translated.findChild<QLabel*>(QStringLiteral("label"))->text(),
                 QStringLiteral("#Otwarte pliki (warstwy) adnotacji"));
    }

    void showLayersRebuildsTheTable()
    {
        panel->showLayers(mixedLayers());
        auto* model = qobject_cast<QStandardItemModel*>(table->model());
        QVERIFY(model);
        struct Row {
            const char* name;
            const char* toolTip;
            bool checked;
            QColor color;
        };
        const Row rows[] = {
            {"[Adnotacje publiczne]", "Plik - 2015-01-01-clerk.xml", true, QColor(246, 245, 227)},
            {"[Adnotacje publiczne (kopia) 1]", "Plik - 2015-01-01-clerk.xml 1", false, QColor(251, 237, 228)},
            {"[Adnotacje prywatne]", "Plik - a-judge.xml", true, QColor(204, 245, 179)},
            {"[Adnotacje prywatne 1]", "Plik - b-judge.xml", false, QColor(170, 222, 140)},
            {"[p1]", "Plik - p1.xml", true, QColor(243, 229, 252)},
            {"[p2]", "Plik - p2.xml", true, QColor(219, 197, 235)},
            {"[p3]", "Plik - p3.xml", true, QColor(213, 177, 239)},
        };
        QCOMPARE(model->rowCount(), 7);
        for (int row = 0; row < 7; ++row) {
            QCOMPARE(model->item(row, 0)->text(), QString());
            QVERIFY(model->item(row, 0)->isCheckable());
            QCOMPARE(model->item(row, 0)->checkState(), rows[row].checked ? Qt::Checked : Qt::Unchecked);
            QCOMPARE(model->item(row, 1)->text(), QString::number(row + 1));
            QCOMPARE(model->item(row, 2)->text(), QString::fromUtf8(rows[row].name));
            for (int column = 0; column < 3; ++column) {
                QCOMPARE(model->item(row, column)->toolTip(), QString::fromUtf8(rows[row].toolTip));
                QCOMPARE(model->item(row, column)->background().color(), rows[row].color);
            }
        }
        QCOMPARE(table->horizontalHeader()->sectionResizeMode(2), QHeaderView::Stretch);
        QCOMPARE(table->horizontalHeader()->sectionSize(0), 20);
        QCOMPARE(table->horizontalHeader()->sectionSize(1), 30);
        QCOMPARE(table->verticalHeader()->sectionResizeMode(0), QHeaderView::ResizeToContents);
        QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(table->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(table->styleSheet(), QStringLiteral("QTableView {selection-background-color: #0080FF;}"));
        QVERIFY(!table->isCornerButtonEnabled());
        QCOMPARE(model->parent(), panel);

        panel->showLayers({});
        QCOMPARE(table->model()->rowCount(), 0);
    }

    // A long name is broken between characters to fit the column, for the
    // application's font, and again when that font grows.
    void longNamesWrap()
    {
        Layer::nbAnnProt = 0;
        const QString stem = QStringLiteral("rozprawa sadowa sygnatura akt II K 1234-2015 protokol z przesluchania");
        panel->showLayers({makeLayer(1, QStringLiteral("/rec/") + stem + QStringLiteral(".xml"), QString(), 1)});
        const auto lines = [this] { return table->model()->index(0, 2).data().toString().split(QLatin1Char('\n')); };
        const QStringList before = lines();
        QVERIFY2(before.size() >= 2, qPrintable(before.join(QLatin1Char('|'))));
        QCOMPARE(before.join(QString()), QLatin1Char('[') + stem + QLatin1Char(']'));
        const QFontMetrics metrics(QApplication::font());
        for (int i = 0; i < before.size(); ++i) {
            QVERIFY(metrics.horizontalAdvance(before[i] + QLatin1Char('\n')) <= 297);
            // Each line takes as many characters as fit, blanks or not.
            if (i + 1 < before.size())
                QVERIFY(metrics.horizontalAdvance(before[i] + before[i + 1].at(0) + QLatin1Char('\n')) > 297);
        }

        QFont bigger = QApplication::font();
        bigger.setPointSize(bigger.pointSize() * 2);
        QApplication::setFont(bigger);
        panel->setGuiFont();
        QVERIFY(lines().size() > before.size());
        QCOMPARE(lines().join(QString()), before.join(QString()));
    }

    // A name that just fits is broken once the vertical scroll bar shows.
    void scrollBarNarrowsTheNames()
    {
        const QFontMetrics metrics(QApplication::font());
        const int narrower = 297 - table->verticalScrollBar()->sizeHint().width() - 5;
        QString stem = QStringLiteral("x");
        while (metrics.horizontalAdvance(QLatin1Char('[') + stem + QStringLiteral("]\n")) <= narrower)
            stem += QLatin1Char('x');
        QVERIFY(metrics.horizontalAdvance(QLatin1Char('[') + stem + QStringLiteral("]\n")) <= 297);

        Layer::nbAnnProt = 0;
        QList<Layer> layers{makeLayer(1, QStringLiteral("/rec/") + stem + QStringLiteral(".xml"), QString(), 1)};
        panel->showLayers(layers);
        QVERIFY(!table->model()->index(0, 2).data().toString().contains(QLatin1Char('\n')));

        for (int id = 2; id < 40; ++id)
            layers << makeLayer(id, QStringLiteral("/rec/n%1.xml").arg(id), QString(), id);
        panel->showLayers(layers);
        QTRY_VERIFY(table->verticalScrollBar()->isVisible());
        panel->setGuiFont();
        QVERIFY(table->model()->index(0, 2).data().toString().contains(QLatin1Char('\n')));
    }

    // A click on a check box reports the layer's id; the state survives a
    // rebuild; clicks elsewhere report nothing.
    void clickingChecksReportsTheLayer()
    {
        panel->showLayers(mixedLayers());
        QSignalSpy spy(panel, &AnnotationOptions::aoChangedLayerVisible);
        const auto click = [this](int row, int column) {
            const QModelIndex index = table->model()->index(row, column);
            const QPoint at = column == 0 ? checkIndicator(table, index).center() : table->visualRect(index).center();
            QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        };

        click(1, 0);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 2);
        QCOMPARE(spy.at(0).at(1).toBool(), true);
        click(0, 0);
        QCOMPARE(spy.size(), 2);
        QCOMPARE(spy.at(1).at(0).toInt(), 1);
        QCOMPARE(spy.at(1).at(1).toBool(), false);
        click(0, 1);
        click(0, 2);
        QCOMPARE(spy.size(), 2);

        panel->setGuiFont();
        auto* model = qobject_cast<QStandardItemModel*>(table->model());
        QCOMPARE(model->item(0, 0)->checkState(), Qt::Unchecked);
        QCOMPARE(model->item(1, 0)->checkState(), Qt::Checked);
    }

    void offsetAndFollowSignals()
    {
        auto* spin = panel->findChild<QSpinBox*>(QStringLiteral("spinOffset"));
        auto* check = panel->findChild<QCheckBox*>(QStringLiteral("checkSpy"));
        QSignalSpy offsets(panel, &AnnotationOptions::aoChangedOffset);
        QSignalSpy follow(panel, &AnnotationOptions::aoChangedSpyOption);

        panel->setSpinOffset(5);
        panel->setSpinOffset(5);
        QCOMPARE(offsets.size(), 1);
        QCOMPARE(offsets.at(0).at(0).toInt(), 5);
        QCOMPARE(panel->getSpinOffset(), 5);
        panel->setSpinOffset(-2500);
        QCOMPARE(panel->getSpinOffset(), -1000);
        QCOMPARE(offsets.last().at(0).toInt(), -1000);

        spin->selectAll();
        QTest::keyClicks(spin, QStringLiteral("2000"));
        QCOMPARE(panel->getSpinOffset(), 200);
        QCOMPARE(offsets.last().at(0).toInt(), 200);

        QTest::mouseClick(check, Qt::LeftButton);
        QTest::mouseClick(check, Qt::LeftButton);
        QCOMPARE(follow.size(), 2);
        QCOMPARE(follow.at(0).at(0).toBool(), true);
        QCOMPARE(follow.at(1).at(0).toBool(), false);
    }

    void newLayerUpdatesOrAdds()
    {
        const QList<Layer> layers = mixedLayers();
        panel->showLayers(layers);
        panel->newLayer(layers[3], false);
        auto* model = qobject_cast<QStandardItemModel*>(table->model());
        QCOMPARE(model->rowCount(), 7);
        QCOMPARE(model->item(0, 0)->checkState(), Qt::Unchecked);

        panel->newLayer(makeLayer(9, QStringLiteral("/rec/c-judge.xml"), QString(), 400), true);
        model = qobject_cast<QStandardItemModel*>(table->model());
        QCOMPARE(model->rowCount(), 8);
        QCOMPARE(model->item(4, 2)->text(), QStringLiteral("[Adnotacje prywatne 2]"));
        QCOMPARE(model->item(4, 0)->checkState(), Qt::Checked);
    }

private:
    AnnotationOptions* panel = nullptr;
    QTableView* table = nullptr;
    QFont applicationFont;
};

QTEST_MAIN(TestAnnotationOptions)
#include "tst_annotation_options.moc"
