#pragma once

#include <QThread>

#include <functional>

// Runs a function on its own thread, for tests of blocking calls.
class TestWorker : public QThread {
public:
    explicit TestWorker(std::function<void()> body) : body(std::move(body)) {}
    void run() override { body(); }

private:
    std::function<void()> body;
};
