#pragma once

#include <QObject>

class QSocketNotifier;
class QTimer;

// Turns SIGTERM and SIGINT into the end of the event loop, so that a host that
// is asked to end still closes the library in order, whatever dialog is open.
class HostSignals : public QObject {
    Q_OBJECT
public:
    explicit HostSignals(QObject* parent = nullptr);
    ~HostSignals() override;

private:
    static void handle(int signal);
    void onSignal();
    void endLoops();

    static int ms_pipe[2];
    QSocketNotifier* notifier = nullptr;
    QTimer* ending = nullptr; // asks again until the main loop has ended
};
