#ifndef CHILDPROCESS_H
#define CHILDPROCESS_H

#include <QProcess>

#include <csignal>

#include <sys/prctl.h>

// A child must not outlive a test that crashes or is cut off for taking too long.
inline void dieWithParent(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

#endif
