#include "pseudoterminal.h"

#include "rawpseudoterminal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <poll.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal()
{
    master = openRawPseudoTerminal(&path);
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
