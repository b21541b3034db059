#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a quit of the event loop, so that a host that
// is asked to end still closes the library in order.
class HostSignals : public QObject {
    Q_OBJECT
public:
    explicit HostSignals(QObject* parent = nullptr);
    ~HostSignals() override;

private:
    static void handle(int signal);
    void onSignal();

    static int ms_pipe[2];
    QSocketNotifier* notifier = nullptr;
};
