#include "rawpseudoterminal.h"

#include <cerrno>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

int openRawPseudoTerminal(QString *devicePath)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0)
        return -1;
    // A program started meanwhile must not hold the line open: hanging up
    // would then cut nothing.
    fcntl(master, F_SETFD, FD_CLOEXEC);
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
        const int error = errno;
        ::close(master);
        errno = error;
        return -1;
    }
    termios attributes {};
    if (tcgetattr(master, &attributes) == 0) {
        cfmakeraw(&attributes);
        tcsetattr(master, TCSANOW, &attributes);
    }
    *devicePath = QString::fromLocal8Bit(ptsname(master));
    return master;
}
