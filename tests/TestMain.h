#pragma once

#include <QtTest>

#include <cstdio>
#include <cstdlib>

// Ends a test process once its tests have run and its application object has
// gone, without the libraries' exit-time destructors. Qt's PulseAudio plugin
// releases its server connection in one of them without holding the lock of
// its sound loop, whose thread still runs; a server event at that moment (a
// sink that another process's sound changes) breaks libpulse's bookkeeping
// and it aborts the process after every test has passed.
[[noreturn]] inline void endTestProcess(int code)
{
    std::fflush(nullptr);
    std::_Exit(code);
}

// QTEST_MAIN, ended by endTestProcess().
#define HARBEND_TEST_MAIN(TestObject)                                                                                  \
    static int runTests(int argc, char* argv[]) { QTEST_MAIN_IMPL(TestObject) }                                        \
    int main(int argc, char* argv[]) { endTestProcess(runTests(argc, argv)); }
