#pragma once

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
