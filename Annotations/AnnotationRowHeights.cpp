#include "Annotations/AnnotationRowHeights.h"

#include <QAbstractItemModel>
#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QTableView>

AnnotationRowHeights::AnnotationRowHeights(QTableView* view) : QObject(view), table(view)
{
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // Text wraps to the width of its column.
    connect(table->horizontalHeader(), &QHeaderView::sectionResized, this, &AnnotationRowHeights::measureAllAgain);
    connect(table->verticalScrollBar(), &QScrollBar::valueChanged, this, &AnnotationRowHeights::measureShown);
    table->installEventFilter(this);
    table->viewport()->installEventFilter(this);
}

void AnnotationRowHeights::watchModel()
{
    QAbstractItemModel* model = table->model();
    measureAllAgain();
    if (!model)
        return;
    // Rows moved by an insertion or removal are few on screen: measured again.
    for (auto rowsChanged : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model, rowsChanged, this, &AnnotationRowHeights::measureAllAgain, Qt::UniqueConnection);
    connect(model, &QAbstractItemModel::dataChanged, this, &AnnotationRowHeights::measureAllAgain,
            Qt::UniqueConnection);
    connect(model, &QAbstractItemModel::modelReset, this, &AnnotationRowHeights::measureAllAgain, Qt::UniqueConnection);
    connect(table->selectionModel(), &QItemSelectionModel::currentChanged, this, &AnnotationRowHeights::showCurrent,
            Qt::UniqueConnection);
}

bool AnnotationRowHeights::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::FontChange:
    case QEvent::StyleChange:
        // Rows measured before the table was first shown used an unpolished look.
        if (watched == table)
            measureAllAgain();
        break;
    case QEvent::Resize:
        if (watched == table->viewport())
            measureShown();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void AnnotationRowHeights::measureAllAgain()
{
    const QAbstractItemModel* model = table->model();
    measured = QBitArray(model ? model->rowCount() : 0);
    measureShown();
}

void AnnotationRowHeights::measureShown()
{
    if (!table->isVisible() || measured.isEmpty())
        return;
    measureUpFrom(measured.size() - 1);
    const int bottom = table->viewport()->height();
    int row = table->rowAt(0);
    if (row < 0)
        return;
    // Each measured row moves the rows below it: walk down to the bottom edge.
    for (int y = table->rowViewportPosition(row); row < measured.size() && y < bottom; ++row) {
        measure(row);
        y += table->rowHeight(row);
    }
}

void AnnotationRowHeights::measure(int row)
{
    if (!measured.testBit(row)) {
        table->resizeRowToContents(row);
        measured.setBit(row);
    }
}

void AnnotationRowHeights::showCurrent(const QModelIndex& current)
{
    if (!current.isValid() || !table->hasAutoScroll() || !table->isVisible() || current.row() >= measured.size())
        return;
    measureUpFrom(current.row());
    // The scroll range first, from the rows as they are now.
    table->doItemsLayout();
    table->scrollTo(current);
}

void AnnotationRowHeights::measureUpFrom(int row)
{
    const int height = table->viewport()->height();
    for (int above = 0; row >= 0 && above < height; --row) {
        measure(row);
        above += table->rowHeight(row);
    }
}
