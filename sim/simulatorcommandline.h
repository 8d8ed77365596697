#ifndef SIMULATORCOMMANDLINE_H
#define SIMULATORCOMMANDLINE_H

#include "triaxsimulator.h"

#include <QString>
#include <QStringList>

// The simulator's command line. --help prints the options and exits, as
// --version prints the application's version; a value out of range leaves
// `error` set.
struct SimulatorCommandLine
{
    static SimulatorCommandLine fromArguments(const QStringList &arguments);

    TriaxSimulator::Options options;
    QString error;
};

#endif
