#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QString>
#include <QStringList>

// The serial device and the remote-control port, given in either order.
// Nothing on the command line is ever rejected: what is not a number where a
// number is looked for is taken as the device. (--version has ended the
// program before: Startup::printVersionIfAsked.)
struct CommandLine
{
    QString device = QStringLiteral("/dev/ttyS0");
    int port = 8086;
    // Whether the arguments named the device, or device is the default.
    bool deviceGiven = false;

    // arguments[0] is the program path.
    static CommandLine fromArguments(const QStringList &arguments);
};

#endif
