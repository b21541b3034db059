#pragma once

#include <QBitArray>
#include <QModelIndex>
#include <QObject>

class QTableView;

// Gives the rows of a table their natural height, as a vertical header that
// sizes rows to their contents would, without laying out the text of every
// row: only the rows on screen are measured, each once until the model, the
// width of the columns, the font or the style changes. The rows of the last
// page are measured too: they set how far the table scrolls. A row that was
// never on screen keeps the header's default height.
class AnnotationRowHeights : public QObject {
    Q_OBJECT

public:
    explicit AnnotationRowHeights(QTableView* table);

    // Follows the table's model; called after each setModel().
    void watchModel();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void measureShown();
    void measureAllAgain();
    void measure(int row);
    // Measures `row` and those above it that fill the viewport's height.
    void measureUpFrom(int row);
    // The view scrolled to its new current row by the heights it knew: with
    // the rows above it measured, it scrolls again if the row is not in view.
    void showCurrent(const QModelIndex& current);

    QTableView* table;
    QBitArray measured; // by row of the current model
};
