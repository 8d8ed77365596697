#include "monopanelversion.h"
#include "simulatorcommandline.h"
#include "triaxsimulator.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>

#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// SIGTERM and SIGINT are taken from a descriptor, so that the simulator ends
// through the event loop and closes its pseudo-terminal on the way out.
// Blocked before any thread starts, so that every thread inherits the mask.
int blockTerminationSignals()
{
    sigset_t termination;
    sigemptyset(&termination);
    sigaddset(&termination, SIGTERM);
    sigaddset(&termination, SIGINT);
    if (sigprocmask(SIG_BLOCK, &termination, nullptr) != 0)
        return -1;
    return signalfd(-1, &termination, SFD_NONBLOCK | SFD_CLOEXEC);
}

int fail(const QString &message)
{
    std::fprintf(stderr, "triaxsim: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    const int terminationSignals = blockTerminationSignals();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("triaxsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MONOPANEL_VERSION));

    const SimulatorCommandLine commandLine
        = SimulatorCommandLine::fromArguments(QCoreApplication::arguments());
    if (!commandLine.error.isEmpty())
        return fail(commandLine.error);

    if (terminationSignals < 0)
        return fail(QStringLiteral("cannot take termination signals"));
    TriaxSimulator simulator(commandLine.options);
    if (!simulator.isValid())
        return fail(simulator.errorString());
    // A script waits for this line, so it must not sit in a buffer.
    std::printf("%s\n", qPrintable(simulator.devicePath()));
    std::fflush(stdout);

    QObject::connect(&simulator, &TriaxSimulator::hungUp, &app, [] {
        std::fprintf(stderr, "triaxsim: line hung up\n");
        QCoreApplication::quit();
    });

    QSocketNotifier terminated(terminationSignals, QSocketNotifier::Read);
    QObject::connect(&terminated, &QSocketNotifier::activated, &app, [terminationSignals] {
        signalfd_siginfo info {};
        if (::read(terminationSignals, &info, sizeof info) == sizeof info)
            QCoreApplication::quit();
    });
    const int status = QCoreApplication::exec();
    ::close(terminationSignals);
    return status;
}
