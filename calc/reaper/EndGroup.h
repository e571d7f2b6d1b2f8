// What the reaper does, shared by the reaper program and the backend's fallback
// when that program cannot be run: wait until descriptor `fd` reaches its end, then
// end the process group `group`, politely first. Only calls that are safe after fork
// in a threaded process.
#pragma once

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace calc {

inline void endGroupWhenPipeCloses(int fd, pid_t group) {
    char byte;
    while (::read(fd, &byte, 1) < 0 && errno == EINTR) {
    }
    if (::kill(-group, SIGTERM) != 0) return;
    struct timespec tick {
        0, 100 * 1000 * 1000
    };
    for (int i = 0; i < 30 && ::kill(-group, 0) == 0; ++i) ::nanosleep(&tick, nullptr);
    ::kill(-group, SIGKILL);
}

}  // namespace calc
