#include "PrivateDisplay.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

PrivateDisplay::PrivateDisplay(int width, int height) : pid(-1)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return;
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const std::string fd = std::to_string(pipeEnds[1]);
    pid = fork();
    if (pid == 0) {
        close(pipeEnds[0]);
        // Xvfb reports every display number that it finds taken on the way.
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0)
            dup2(quiet, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "+extension", "GLX",
               "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string number;
    char c;
    while (pid > 0 && read(pipeEnds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(pipeEnds[0]);
    if (pid <= 0 || number.empty()) {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        pid = -1;
        return;
    }
    setenv("DISPLAY", (":" + number).c_str(), 1);
}

PrivateDisplay::~PrivateDisplay()
{
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}
