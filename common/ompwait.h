#pragma once
// OpenMP's default wait policy spins idle worker threads for milliseconds
// between parallel regions. The slicer runs many short regions per layer, so on
// a machine where anything else runs the spinning threads steal the cores the
// work needs (a 0.7 s slice took 5-10 s at a load of 8). Passive waiting costs a
// few microseconds per region instead.
//
// The OpenMP runtime reads its environment while the program is loaded, before
// main() can change it. The executables link the small tessavo_ompwait library
// (common/ompwaitearly.c), whose constructor sets the variable before the
// runtime reads it. An executable built without it sets the variable here and
// starts itself again once (a few milliseconds more). A user's own
// OMP_WAIT_POLICY or GOMP_SPINCOUNT is left alone; if the restart fails the
// program simply runs on.
#include <cstdlib>
#include <unistd.h>

inline void ensurePassiveOmpWait(char **argv)
{
    if (std::getenv("OMP_WAIT_POLICY") || std::getenv("GOMP_SPINCOUNT") || !argv || !argv[0])
        return;
    setenv("OMP_WAIT_POLICY", "PASSIVE", 1);
    execv("/proc/self/exe", argv);
}
