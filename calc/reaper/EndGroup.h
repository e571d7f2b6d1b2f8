// What the reaper does, shared by the reaper program and the backend's fallback
// when that program cannot be run: wait until descriptor `fd` reaches its end, then
// end the process group `group`, politely first, unless another program still uses
// that office. Only calls that are safe after fork in a threaded process.
#pragma once

#include "OfficeUsers.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace calc {

// SIGTERM to the group, SIGKILL to what is left of it three seconds later.
inline void endGroup(pid_t group) {
    if (::kill(-group, SIGTERM) != 0) return;
    struct timespec tick {
        0, 100 * 1000 * 1000
    };
    for (int i = 0; i < 30 && ::kill(-group, 0) == 0; ++i) ::nanosleep(&tick, nullptr);
    ::kill(-group, SIGKILL);
}

// A byte read from fd means the program that started the reaper let go of the
// office (it ended it itself, or leaves it running for another program): nothing is
// done. The end of fd without one means that program died. With a users' folder
// (`folderPath`, and the dead program's entry `entry` in it, both possibly empty)
// the group is then ended only when no other living program uses it and it is still
// the office recorded as started by a program here; without one, always.
inline void endGroupWhenPipeCloses(int fd, pid_t group, const char* folderPath, const char* entry) {
    char byte;
    ssize_t got;
    while ((got = ::read(fd, &byte, 1)) < 0 && errno == EINTR) {
    }
    if (got == 1) return;
    if (!folderPath || !folderPath[0]) {
        endGroup(group);
        return;
    }
    int folder = users::openFolder(folderPath, false);
    if (folder < 0) {
        // The folder is gone or no longer the user's: nobody can be known to use
        // the office, and an office nobody uses must not outlive its programs.
        endGroup(group);
        return;
    }
    // The dead program's lock goes with the last of its descriptors, which the
    // kernel may close after this pipe's.
    if (entry && entry[0]) users::waitReleased(folder, entry, 5000);
    // Another program may be deciding about the office (attaching to it, or ending
    // it); past the bound the decision is made alone.
    int lock = users::lockFolder(folder, 60000);
    long other = 0;
    if (users::live(folder, nullptr, group, &other, 1) == 0 && users::startedGroup(folder) == group) {
        endGroup(group);
        users::forgetStarted(folder, group);
    }
    // The dead program cannot tidy up after itself.
    if (lock >= 0) {
        users::removeIfUnused(folder, folderPath);
        ::close(lock);
    }
    ::close(folder);
}

}  // namespace calc
