#include "HostSignals.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

int HostSignals::ms_pipe[2] = {-1, -1};

HostSignals::HostSignals(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ms_pipe) != 0)
        return;
    ::fcntl(ms_pipe[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(ms_pipe[1], F_SETFD, FD_CLOEXEC);
    notifier = new QSocketNotifier(ms_pipe[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &HostSignals::onSignal);
    struct sigaction action = {};
    action.sa_handler = &HostSignals::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

HostSignals::~HostSignals()
{
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    delete notifier;
    if (ms_pipe[0] >= 0) {
        ::close(ms_pipe[0]);
        ::close(ms_pipe[1]);
        ms_pipe[0] = ms_pipe[1] = -1;
    }
}

void HostSignals::handle(int)
{
    const char byte = 1;
    if (ms_pipe[0] >= 0)
        (void)!::write(ms_pipe[0], &byte, 1);
}

void HostSignals::onSignal()
{
    char byte;
    (void)!::read(ms_pipe[1], &byte, 1);
    // A dialog opened before the main loop started (a box about the recording
    // given) ends with its own loop, and the main loop would then start anew:
    // the request stands until the main loop has ended.
    if (!ending) {
        ending = new QTimer(this);
        ending->setInterval(10);
        connect(ending, &QTimer::timeout, this, &HostSignals::endLoops);
        connect(qApp, &QCoreApplication::aboutToQuit, ending, &QTimer::stop);
        ending->start();
    }
    endLoops();
}

void HostSignals::endLoops()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible())
            dialog->reject();
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    QCoreApplication::exit(0);
}
