#pragma once

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>

// A pseudo-terminal pair standing in for a cable to a device: returns the device's end (the
// master, raw, non-blocking, not inherited) and puts the path of the program's end in `path`.
// The program's end is closed here; the program opens it by its path. Returns -1 on failure.
inline int openDeviceEnd(std::string& path) {
    int master = -1, slave = -1;
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return -1;
    termios t{};
    ::tcgetattr(master, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master, TCSANOW, &t);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::close(slave);
    path = name;
    return master;
}
