#pragma once

#include "Annotations/Layer.h"

#include <QList>
#include <QModelIndex>
#include <QString>
#include <QWidget>

class QStandardItemModel;
class Ui_AnnotationOptions;

// The annotation options panel: the time offset, the follow switch and the
// opened layers with a check box each. Every change leaves as a signal.
class AnnotationOptions : public QWidget {
    Q_OBJECT

public:
    explicit AnnotationOptions(QWidget* parent = nullptr);
    ~AnnotationOptions() override;

    void setSpinOffset(int offset);
    int getSpinOffset() const;
    // Wraps the names anew for the current application font.
    void setGuiFont();

signals:
    void aoChangedLayerVisible(int layerId, bool visible);
    void aoChangedOffset(int offset);
    void aoChangedSpyOption(bool spy);

public slots:
    void on_tableLayers_clicked(QModelIndex index);
    void showLayers(QList<Layer> pLayersList);
    void newLayer(Layer pLayer, bool pIsActiv);

private slots:
    void on_spinOffset_valueChanged(int arg1);
    void on_checkSpy_stateChanged(int arg1);

private:
    void ShowLayersTable();
    QString splitLayerName(QString text);
    Layer getLayer(int id) const;
    void sortLayers();

    Ui_AnnotationOptions* ui;
    QStandardItemModel* model;
    QList<Layer> layers;
};
