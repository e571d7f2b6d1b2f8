// tabcalc-reaper PGID: waits until descriptor 3 (the read end of a pipe whose only
// write end the Calc backend's process holds) reaches its end, then ends the
// process group PGID: the office that process started. It runs as a program of its
// own, so that killing "cadhost" by name does not kill the reaper with it.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    char* end = nullptr;
    long group = std::strtol(argv[1], &end, 10);
    if (!end || *end || group <= 1) return 2;
    signal(SIGINT, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    char byte;
    while (read(3, &byte, 1) < 0 && errno == EINTR) {
    }
    if (kill(-static_cast<pid_t>(group), SIGTERM) == 0) {
        struct timespec tick {
            0, 100 * 1000 * 1000
        };
        for (int i = 0; i < 30 && kill(-static_cast<pid_t>(group), 0) == 0; ++i) nanosleep(&tick, nullptr);
        kill(-static_cast<pid_t>(group), SIGKILL);
    }
    return 0;
}
