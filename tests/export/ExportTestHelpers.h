#pragma once

// Helpers of the export tests: driving modal dialogs, clicking check boxes in
// item views, and reading files and PDF text back.

#include <QApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTimer>

#include <functional>

namespace ExportTest {

const int kDialogWaitMs = 20000;

// Runs the action on the next modal dialog of type T once it is shown; gives
// up after a while so that a dialog that never comes cannot catch a later one.
template <typename T>
void whenModal(std::function<void(T*)> action)
{
    auto* timer = new QTimer;
    auto* deadline = new QElapsedTimer;
    deadline->start();
    QObject::connect(timer, &QTimer::timeout, [timer, deadline, action] {
        T* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        const bool expired = deadline->elapsed() > kDialogWaitMs;
        if (!expired && !(dialog && dialog->isVisible()))
            return;
        timer->stop();
        timer->deleteLater();
        delete deadline;
        if (!expired)
            action(dialog);
    });
    timer->start(20);
}

// Where a click toggles the check box of an item.
inline QRect checkIndicator(QTableView* view, const QModelIndex& index)
{
    QStyleOptionViewItem option;
    option.rect = view->visualRect(index);
    option.features = QStyleOptionViewItem::HasCheckIndicator;
    option.state = QStyle::State_Enabled;
    option.widget = view;
    return view->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, view);
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Output of a tool; empty, with a warning, when it does not run cleanly.
inline QString runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning() << program << arguments << process.readAllStandardError();
        return QString();
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

inline QString pdfText(const QString& path)
{
    return runTool(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
}

} // namespace ExportTest
