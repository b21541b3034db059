// The annotations panel and the options panel connected as the main window
// connects them: layers published to the options, visibility, offset and
// follow mode sent back, and printing and export of what is shown.

#include "Annotations/Adnotacje.h"
#include "Annotations/AnnotationOptions.h"
#include "ExportTestHelpers.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

using namespace ExportTest;

namespace {

void writeLayer(const QString& path, int created, const QList<QPair<const char*, const char*>>& entries)
{
    QByteArray body;
    for (const auto& entry : entries)
        body += QByteArray("<Annotation Time=\"") + entry.first + "\"><Text>" + entry.second +
                "</Text><Protocol>false</Protocol></Annotation>";
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ArrayOfAnnotation Created=\"" +
               QByteArray::number(created) + "\">" + body + "</ArrayOfAnnotation>");
}

} // namespace

class TestAnnotationPanels : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(folder.isValid());
        writeLayer(folder.filePath(QStringLiteral("2015-01-01-clerk.xml")), 100,
                   {{"PT10S", "Dziesięć"}, {"PT20S", "Dwadzieścia"}, {"PT30S", "Trzydzieści"}});
        writeLayer(folder.filePath(QStringLiteral("2015-01-01-judge.xml")), 100,
                   {{"PT15S", "Prywatna piętnaście"}, {"PT25S", "Prywatna dwadzieścia pięć"}});

        window = new QWidget;
        auto* layout = new QHBoxLayout(window);
        annotations = new Adnotacje(window);
        options = new AnnotationOptions(window);
        layout->addWidget(annotations);
        layout->addWidget(options);
        // The connections that the main window makes.
        connect(options, &AnnotationOptions::aoChangedLayerVisible, annotations, &Adnotacje::changeLayerVisible);
        connect(options, &AnnotationOptions::aoChangedOffset, annotations, &Adnotacje::changeOffset);
        connect(options, &AnnotationOptions::aoChangedSpyOption, annotations, &Adnotacje::changeSpyOption);
        connect(annotations, &Adnotacje::annShowLayers, options, &AnnotationOptions::showLayers);
        connect(annotations, &Adnotacje::annNewLayer, options, &AnnotationOptions::newLayer);
        window->resize(1200, 600);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));

        annotations->loadAdnotationsDir(folder.path(), true);
        layersTable = options->findChild<QTableView*>(QStringLiteral("tableLayers"));
        annotationTable = annotations->findChild<QTableView*>(QStringLiteral("tableAdnot"));
        QVERIFY(layersTable && annotationTable);
    }

    void cleanup() { delete window; }

    // Unchecking a layer in the options hides its rows; checking shows them.
    void layerVisibility()
    {
        QAbstractItemModel* layers = layersTable->model();
        QCOMPARE(layers->rowCount(), 2);
        QCOMPARE(layers->index(0, 2).data().toString(), QStringLiteral("[Adnotacje publiczne]"));
        QCOMPARE(layers->index(1, 2).data().toString(), QStringLiteral("[Adnotacje prywatne]"));
        QCOMPARE(shownTexts().size(), 5);

        clickCheck(1);
        QCOMPARE(shownTexts(), QStringList({QStringLiteral("Dziesięć"), QStringLiteral("Dwadzieścia"),
                                            QStringLiteral("Trzydzieści")}));
        clickCheck(1);
        QCOMPARE(shownTexts().size(), 5);
    }

    // Follow mode and the offset come from the options panel.
    void followModeAndOffset()
    {
        clickCheck(1);
        annotations->spyAdnotations(15000);
        QCOMPARE(selectedRow(), -1);

        QTest::mouseClick(options->findChild<QCheckBox*>(QStringLiteral("checkSpy")), Qt::LeftButton);
        annotations->spyAdnotations(15000);
        QCOMPARE(selectedRow(), 0);

        // 15 s plus 10 s looks for the annotation at or after 25 s.
        options->setSpinOffset(10);
        QCOMPARE(selectedRow(), 0);
        annotations->spyAdnotations(15000);
        QCOMPARE(selectedRow(), 1);
    }

    // The print button prints the shown rows only.
    void printShownRows()
    {
        clickCheck(0);
        const QString output = folder.filePath(QStringLiteral("wydruk.pdf"));
        QWidget* dialogParent = nullptr;
        whenModal<QPrintDialog>([&dialogParent, output](QPrintDialog* dialog) {
            dialogParent = dialog->parentWidget();
            dialog->printer()->setOutputFileName(output);
            dialog->done(QDialog::Accepted);
        });
        QTest::mouseClick(annotations->findChild<QPushButton*>(QStringLiteral("btPrintAdn")), Qt::LeftButton);
        QCOMPARE(dialogParent, annotations);
        const QString text = pdfText(output);
        QVERIFY2(text.contains(QStringLiteral("Prywatna piętnaście")) && text.contains(QStringLiteral("00:00:25")),
                 qPrintable(text));
        QVERIFY2(!text.contains(QStringLiteral("Dziesięć")), qPrintable(text));
    }

    // The context menu prints the selected annotation, even when the table
    // is rebuilt while the dialog is open.
    void printOneAnnotation()
    {
        annotationTable->selectRow(2);
        QCOMPARE(annotationTable->model()->index(2, 1).data().toString(), QStringLiteral("Dwadzieścia"));
        const QString output = folder.filePath(QStringLiteral("jedna.pdf"));
        whenModal<QPrintDialog>([this, output](QPrintDialog* dialog) {
            clickCheck(0);
            annotations->loadAdnotationsDir(folder.path(), true);
            dialog->printer()->setOutputFileName(output);
            dialog->done(QDialog::Accepted);
        });
        QAction* print = printAction();
        QVERIFY(print);
        print->trigger();
        const QString text = pdfText(output);
        QVERIFY2(text.contains(QStringLiteral("00:00:20")) && text.contains(QStringLiteral("Dwadzieścia")),
                 qPrintable(text));
        QVERIFY2(!text.contains(QStringLiteral("Prywatna")), qPrintable(text));
    }

    // Without a selected row the context menu's print does nothing.
    void printOneWithoutSelection()
    {
        annotationTable->clearSelection();
        bool dialogShown = false;
        QTimer::singleShot(0, [&dialogShown] {
            if (auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget())) {
                dialogShown = true;
                dialog->reject();
            }
        });
        printAction()->trigger();
        QCoreApplication::processEvents();
        QVERIFY(!dialogShown);
    }

    // The export button writes the shown rows; the annotation files stay.
    void exportShownRows()
    {
        const QString clerk = folder.filePath(QStringLiteral("2015-01-01-clerk.xml"));
        QFile file(clerk);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();

        const QString chosen = folder.filePath(QStringLiteral("eksport"));
        QWidget* dialogParent = nullptr;
        whenModal<QFileDialog>([&dialogParent, chosen](QFileDialog* dialog) {
            dialogParent = dialog->parentWidget();
            dialog->selectNameFilter(dialog->nameFilters().at(1));
            dialog->setDirectory(QFileInfo(chosen).path());
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QFileInfo(chosen).fileName());
            QMetaObject::invokeMethod(dialog, "accept");
        });
        QTest::mouseClick(annotations->findChild<QPushButton*>(QStringLiteral("btSavePdfAdn")), Qt::LeftButton);
        QCOMPARE(dialogParent, annotations);
        QFile rtf(chosen + QLatin1String(".rtf"));
        QVERIFY(rtf.open(QIODevice::ReadOnly));
        const QByteArray data = rtf.readAll();
        QCOMPARE(data.count("\\row\n"), 6);
        QVERIFY(data.contains("Dziesi\xEA\xE6\\cell\n"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }

private:
    QAction* printAction() const
    {
        for (QAction* action : annotations->findChildren<QAction*>())
            if (action->text() == QLatin1String("Drukuj"))
                return action;
        return nullptr;
    }

    void clickCheck(int row)
    {
        const QPoint at = checkIndicator(layersTable, layersTable->model()->index(row, 0)).center();
        QTest::mouseClick(layersTable->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }

    QStringList shownTexts() const
    {
        QStringList texts;
        for (int row = 0; row < annotationTable->model()->rowCount(); ++row)
            texts << annotationTable->model()->index(row, 1).data().toString();
        return texts;
    }

    int selectedRow() const
    {
        const QModelIndexList rows = annotationTable->selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    }

    QTemporaryDir folder;
    QWidget* window = nullptr;
    Adnotacje* annotations = nullptr;
    AnnotationOptions* options = nullptr;
    QTableView* layersTable = nullptr;
    QTableView* annotationTable = nullptr;
};

QTEST_MAIN(TestAnnotationPanels)
#include "tst_annotation_panels.moc"
