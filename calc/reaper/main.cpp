// tabcalc-reaper PGID [FOLDER ENTRY]: waits until descriptor 3 (the read end of a
// pipe whose only write end the Calc backend's process holds) reaches its end, then
// ends the process group PGID, the office that process used, unless that process
// let go first or (with the users' FOLDER and its ENTRY there) another program still
// uses the office. It runs as a program of its own, so that killing "cadhost" by
// name does not kill the reaper with it.
#include "EndGroup.h"

#include <signal.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) return 2;
    char* end = nullptr;
    long group = std::strtol(argv[1], &end, 10);
    if (!end || *end || group <= 1) return 2;
    signal(SIGINT, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    calc::endGroupWhenPipeCloses(3, static_cast<pid_t>(group), argc == 4 ? argv[2] : nullptr,
                                 argc == 4 ? argv[3] : nullptr);
    return 0;
}
