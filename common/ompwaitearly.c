/* Passive OpenMP waiting without a restart.
 *
 * The OpenMP runtime reads its environment in its own constructor, before
 * main() runs. This file is built as a tiny shared library that the
 * executables list after the runtime among their needed libraries; the
 * dynamic loader initialises unrelated libraries in the reverse of that
 * order, so this constructor sets the variable before the runtime reads it.
 * It needs nothing but the C library, so no dependency can reorder it, and
 * nothing refers to it, so it is linked with --no-as-needed.
 * The cli and install tests check that the runtime really starts passive.
 */
#include <stdlib.h>

__attribute__((constructor)) static void tessavoSetPassiveOmpWait(void)
{
    /* A user's own choice stands. */
    if (getenv("OMP_WAIT_POLICY") || getenv("GOMP_SPINCOUNT"))
        return;
    setenv("OMP_WAIT_POLICY", "PASSIVE", 0);
}
