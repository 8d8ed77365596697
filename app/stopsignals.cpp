#include "stopsignals.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

StopSignals::StopSignals(QObject *parent)
    : QObject(parent)
{
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    // Without the descriptor the signals keep ending the process as they would.
    descriptor = signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
    if (descriptor < 0)
        return;
    // Blocked, the signals wait in the descriptor instead of ending the process.
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    auto *notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &StopSignals::readSignal);
}

StopSignals::~StopSignals()
{
    if (descriptor >= 0)
        ::close(descriptor);
}

void StopSignals::readSignal()
{
    signalfd_siginfo info;
    while (::read(descriptor, &info, sizeof info) == ssize_t(sizeof info))
        emit received(int(info.ssi_signo));
}
