#pragma once

#include "Annotations/CAdnotation.h"
#include "Annotations/Layer.h"

#include <QElapsedTimer>
#include <QFont>
#include <QList>
#include <QMenu>
#include <QModelIndex>
#include <QWidget>

class AnnotationDialogs;
class AnnotationDocument;
class AnnotationRowHeights;
class QStandardItem;
class QStandardItemModel;
class Ui_Adnotacje;

// The annotations panel: the layers of a recording's folder, their
// annotations in a filtered table that can follow playback, and the store
// that reads and rewrites the annotation files.
class Adnotacje : public QWidget {
    Q_OBJECT

public:
    explicit Adnotacje(QWidget* parent = nullptr);
    ~Adnotacje() override;

    // Store.
    bool isAnnotationReadonly(QString path);
    bool isAnnotFile(QString path);
    QString getXmlAttr(QString path, QString attr);
    bool setXmlAttr(QString path, QString attr, QString value);
    // False, with a message, when the file exists already or cannot be made.
    bool createNewAnnotationsFile(QString path);
    void loadAdnotationsFile(QString path, bool refresh);
    void loadAdnotationsDir(QString dir, bool);
    bool addAnnotXML(CAdnotation ann, QString path);
    bool delAnnotXML(CAdnotation ann, QString path);
    bool editAnnotXML(CAdnotation changed, CAdnotation previous, QString path);
    QString copyAnnotFile(QString path);

    // True when an edit is open and the user keeps it.
    bool editAnnonInProgress();
    void setGuiFont(QFont font);

    void clearAdnotations();
    void manageLayers();
    void sortAdnotations();
    void showAdnotations();
    void loadActivAnnotations();
    QList<CAdnotation> getActivAnnotations() const { return activAnnotations; }
    Layer getLayer(int id) const;
    Layer getLayer(QString name) const;
    bool isActivLayer(int id) const;
    void setActivLayer(int id, bool visible);
    void createMenuAnnonList();

    const QList<Layer>& getLayers() const { return layers; }
    const QList<CAdnotation>& getAdnotations() const { return adnotations; }
    QString getAnnotationsDir() const { return annotationsDir; }
    // Why the last change of a file failed, as the failure message gives it.
    QString getFailureReason() const { return failureReason; }

    // Null restores the real boxes; the object is not owned.
    void setDialogs(AnnotationDialogs* dialogs);

    static const char* const AddNewItem;
    // How long follow mode leaves the table alone after the user touched it.
    static constexpr int FollowPauseMs = 10000;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void annShowLayers(QList<Layer>);
    void annNewLayer(Layer, bool);
    void annSeek(qint64);

private slots:
    void on_btFilter_clicked();
    void on_tableAdnot_doubleClicked(QModelIndex index);
    void on_tableAdnot_clicked(QModelIndex index);
    void on_btEditAdn_clicked();
    void on_btAddAdn_clicked();
    void on_btDiscardAdn_clicked();
    void on_btSaveEditAdn_clicked();
    void on_btSaveAddAdn_clicked();
    void on_btFilterReset_clicked();
    void on_btPrintAdn_clicked();
    void on_btSavePdfAdn_clicked();
    void on_comboBoxFiles_activated(QString arg1);
    void on_comboBoxFiles_currentIndexChanged(int index);
    void on_lineEditAdnot_returnPressed();
    void on_tableAdnot_customContextMenuRequested(QPoint pos);
    void cmalCopy_triggered();
    void cmalDelete_triggered();
    void cmalPrint_triggered();
    void on_timeEdit_editingFinished();

public slots:
    void changeLayerVisible(int pNbLayer, bool pVisible);
    void changeOffset(int pOffset);
    void changeSpyOption(bool pSpy);
    void spyAdnotations(qint64 pTime);

private:
    enum class ParseMessage { Plain, WithPath };
    // Reads a file and reports what the user must see; a document that is to
    // be rewritten must also have been decoded without loss.
    bool readDocument(AnnotationDocument& doc, ParseMessage style, bool forWriting);
    // Reads a file that is to be rewritten; failureReason says why it cannot be.
    bool readForWriting(AnnotationDocument& doc);
    // Reads for a change, with the creation time repaired.
    bool readForChange(AnnotationDocument& doc);
    // Adds the layer of a file read for a load.
    void addLayer(const AnnotationDocument& doc, bool refresh);
    // Writes a changed document; failureReason says why it could not.
    bool writeChange(AnnotationDocument& doc);
    // A failure message with the reason of the last failed change under it.
    QString failureText(const char* text) const;

    // The three cells of an annotation's row in the table.
    QList<QStandardItem*> rowCells(const CAdnotation& annotation) const;
    // Adds a new annotation to the lists and, when it is shown, to the table,
    // each in its place.
    void insertAdnotation(CAdnotation record);

    // The row shown selected, which every action works on; -1 when none.
    int selectedRow() const;
    // What a context-menu action works on: the annotation taken when the menu
    // opened, else (an action triggered without the menu) the selected one.
    bool actionTarget(CAdnotation& target) const;
    // Follow mode leaves the selection alone while the user is busy with it.
    bool followHeld() const;
    // Position in adnotations of the first record of that layer with that
    // time and text; -1 when there is none.
    int findAdnotation(int layerId, const QString& time, const QString& text) const;
    int rowOfIndex(int index) const;
    // When the layer of `path` is read-only, offers a copy and moves `record`
    // into it; false when nothing may be written.
    bool ensureWritable(QString& path, CAdnotation& record);
    QString proposedFileName() const;
    void openFrame(bool editing, const QString& path, const QString& text, const QString& timeText);
    void setFrameTime(const QString& timeText);
    void printShown(bool toFile);
    void resetFilterFields();

    Ui_Adnotacje* ui;
    QStandardItemModel* model;
    QMenu menuAnnonList;
    int layerCounter;
    qint64 offsetMs;
    bool spy;
    qint64 lastPos;
    qint64 addTime;
    QList<Layer> layers;
    QList<CAdnotation> adnotations;
    QList<CAdnotation> activAnnotations;
    QString annotationsDir;

    AnnotationDialogs* dialogs;
    CAdnotation editTarget;  // the annotation that the edit frame was opened for
    CAdnotation menuTarget;  // the annotation the open context menu was opened on
    QElapsedTimer lastTouch; // since the user last touched the table
    QString failureReason;   // why the last change of a file failed
    AnnotationRowHeights* rowHeights;
};
