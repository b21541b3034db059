#pragma once

#include "tests/TestMain.h"

#include <QApplication>
#include <QTest>

#include <cstdio>
#include <sys/types.h>

// An X server of the test's own (Xvfb with GLX), so that no other test's
// window can cover the screenshots. Sets DISPLAY; stops the server when it goes.
class PrivateDisplay {
public:
    PrivateDisplay(int width, int height);
    ~PrivateDisplay();

    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    bool isRunning() const { return pid > 0; }

private:
    pid_t pid;
};

// A test's main(): the QApplication runs on a private display of that size.
#define HARBEND_TEST_MAIN_ON_PRIVATE_DISPLAY(TestClass, width, height)                                                 \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        int code;                                                                                                      \
        {                                                                                                              \
            PrivateDisplay display(width, height);                                                                     \
            if (!display.isRunning()) {                                                                                \
                std::fprintf(stderr, "Xvfb did not start\n");                                                          \
                return 1;                                                                                              \
            }                                                                                                          \
            QApplication application(argc, argv);                                                                      \
            TestClass test;                                                                                            \
            code = QTest::qExec(&test, argc, argv);                                                                    \
        }                                                                                                              \
        endTestProcess(code);                                                                                          \
    }
