#include "pseudoterminal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal()
{
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0)
        return;
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
        ::close(master);
        master = -1;
        return;
    }
    // Raw from the start: no echo and no line-ending translation before the
    // other end has configured the line itself.
    termios attributes {};
    if (tcgetattr(master, &attributes) == 0) {
        cfmakeraw(&attributes);
        tcsetattr(master, TCSANOW, &attributes);
    }
    path = QString::fromLocal8Bit(ptsname(master));
}

PseudoTerminal::~PseudoTerminal()
{
    if (master >= 0)
        ::close(master);
}

QByteArray PseudoTerminal::read(int count, int timeoutMs)
{
    QByteArray received;
    const QDeadlineTimer deadline(timeoutMs);
    while (received.size() < count && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        pollfd descriptor { master, POLLIN, 0 };
        if (poll(&descriptor, 1, 5) <= 0 || !(descriptor.revents & POLLIN))
            continue;
        char buffer[256];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0)
            received.append(buffer, n);
    }
    return received;
}

QByteArray PseudoTerminal::readFor(int timeoutMs)
{
    return read(1 << 20, timeoutMs);
}

void PseudoTerminal::write(const QByteArray &bytes)
{
    qsizetype offset = 0;
    while (offset < bytes.size()) {
        const ssize_t n = ::write(master, bytes.constData() + offset, bytes.size() - offset);
        if (n <= 0)
            return;
        offset += n;
    }
}
