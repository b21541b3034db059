#include "Annotations/AnnotationOptions.h"

#include "ui_AnnotationOptions.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QStandardItemModel>

#include <algorithm>

namespace {

// Room for a layer's name in the name column.
const int kNameWidth = 297;
const int kCheckColumnWidth = 20;
const char kTableStyle[] = "QTableView {selection-background-color: #0080FF;}";

} // namespace

AnnotationOptions::AnnotationOptions(QWidget* parent) : QWidget(parent), ui(new Ui_AnnotationOptions), model(nullptr)
{
    ui->setupUi(this);
    ShowLayersTable();
}

AnnotationOptions::~AnnotationOptions() { delete ui; }

void AnnotationOptions::setSpinOffset(int offset) { ui->spinOffset->setValue(offset); }

int AnnotationOptions::getSpinOffset() const { return ui->spinOffset->value(); }

void AnnotationOptions::setGuiFont() { ShowLayersTable(); }

void AnnotationOptions::on_spinOffset_valueChanged(int) { emit aoChangedOffset(ui->spinOffset->text().toInt()); }

void AnnotationOptions::on_checkSpy_stateChanged(int)
{
    emit aoChangedSpyOption(ui->checkSpy->checkState() != Qt::Unchecked);
}

void AnnotationOptions::showLayers(QList<Layer> pLayersList)
{
    layers = pLayersList;
    sortLayers();
    ShowLayersTable();
}

void AnnotationOptions::newLayer(Layer pLayer, bool pIsActiv)
{
    const auto known = std::find_if(layers.begin(), layers.end(),
                                    [&](const Layer& layer) { return layer.fileName == pLayer.fileName; });
    if (known != layers.end()) {
        known->visible = pIsActiv;
    } else {
        layers.append(pLayer);
        sortLayers();
    }
    ShowLayersTable();
}

void AnnotationOptions::on_tableLayers_clicked(QModelIndex index)
{
    if (!model || index.column() != 0 || index.row() < 0 || index.row() >= layers.size())
        return;
    // The view has toggled the box before it reports the click.
    const bool visible = model->item(index.row(), 0)->checkState() == Qt::Checked;
    // Kept so that a rebuild from this list shows what the user chose.
    layers[index.row()].visible = visible;
    emit aoChangedLayerVisible(layers[index.row()].id, visible);
}

void AnnotationOptions::sortLayers()
{
    if (!layers.isEmpty())
        std::stable_sort(layers.begin(), layers.end());
}

Layer AnnotationOptions::getLayer(int id) const
{
    for (const Layer& layer : layers)
        if (layer.id == id)
            return layer;
    return Layer();
}

void AnnotationOptions::ShowLayersTable()
{
    ui->tableLayers->setCornerButtonEnabled(false);
    QStandardItemModel* previous = model;
    QItemSelectionModel* previousSelection = ui->tableLayers->selectionModel();
    model = new QStandardItemModel(layers.size(), 3, this);
    model->setHorizontalHeaderLabels({QString(), QStringLiteral("Nr"), QStringLiteral("Nazwa")});

    for (int row = 0; row < layers.size(); ++row) {
        const Layer& layer = layers.at(row);

        auto* check = new QStandardItem(QString());
        check->setCheckable(true);
        check->setCheckState(layer.visible ? Qt::Checked : Qt::Unchecked);

        auto* number = new QStandardItem(QString::number(row + 1));

        QString suffix;
        if (layer.indexInType != 0 && layer.type != QLatin1String(Layer::Recorder))
            suffix = QLatin1Char(' ') + QString::number(layer.indexInType);
        auto* name = new QStandardItem(splitLayerName(QLatin1Char('[') + layer.name + suffix + QLatin1Char(']')));

        // Copies of public notes are told apart by the file they copy.
        QString file = layer.fileName;
        if (layer.type == QLatin1String(Layer::Clerk) && layer.indexInType >= 1)
            file = layer.source.mid(layer.source.lastIndexOf(QLatin1Char('/')) + 1) + QLatin1Char(' ') +
                   QString::number(layer.indexInType);
        const QString toolTip = QStringLiteral("Plik - ") + file;
        const QBrush background(getLayer(layer.id).getColor());

        const QList<QStandardItem*> cells{check, number, name};
        for (int column = 0; column < cells.size(); ++column) {
            cells[column]->setToolTip(toolTip);
            cells[column]->setData(background, Qt::BackgroundRole);
            model->setItem(row, column, cells[column]);
        }
    }

    QTableView* table = ui->tableLayers;
    table->setModel(model);
    // Nothing refers to the replaced model any more.
    if (previous)
        previous->deleteLater();
    if (previousSelection)
        previousSelection->deleteLater();
    table->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    // Qt 5 keeps sections at the header's font-based minimum, wider than the
    // check and number columns need.
    table->horizontalHeader()->setMinimumSectionSize(kCheckColumnWidth);
    table->horizontalHeader()->resizeSection(1, 30);
    table->horizontalHeader()->resizeSection(0, kCheckColumnWidth);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setStyleSheet(QLatin1String(kTableStyle));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
}

QString AnnotationOptions::splitLayerName(QString text)
{
    int limit = kNameWidth;
    const QScrollBar* scrollBar = ui->tableLayers->verticalScrollBar();
    if (scrollBar->isVisible())
        limit -= scrollBar->sizeHint().width() + 5;
    // The application font, not the table's: names are wrapped for the
    // font that the window sets on the whole application.
    const QFontMetrics metrics(QApplication::font());

    QString result;
    QString line;
    for (const QChar character : text) {
        const QString longer = line + character;
        if (!line.isEmpty() && metrics.horizontalAdvance(longer + QLatin1Char('\n')) > limit) {
            result += line + QLatin1Char('\n');
            line = character;
        } else {
            line = longer;
        }
    }
    return result + line;
}
