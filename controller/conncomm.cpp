#include "triax.h"

#include "serialconnection.h"

#include <QRegularExpression>

namespace {

constexpr int shortWait = 200;
constexpr int wakeUpWait = 500;
// The instrument needs this long to start its firmware after "A".
constexpr int startWait = 90000;

// A backslash and one to three digits 1 to 9: the command stands for one raw
// byte. Matched against the whole command, as the instrument's own tools do.
bool matchByteEscape(const QString &command, char *byte)
{
    static const QRegularExpression byteEscape(QStringLiteral("^\\\\([1-9]{1,3}$)"));
    const QRegularExpressionMatch match = byteEscape.match(command);
    // "$" would also match before a final line feed: insist on the very end.
    if (!match.hasMatch() || match.capturedEnd() != command.size())
        return false;
    *byte = static_cast<char>(match.captured(1).toInt(nullptr, 10) & 0xff);
    return true;
}

} // namespace

void WidgetTriax::openPort()
{
    if (serial->openPort() == 1)
        queueCommand(QStringLiteral(" "));
}

void WidgetTriax::closePort()
{
    displayStatus(QStringLiteral("not ready"));
    ready = 0;
    serial->closePort();
    enableGui(false);
}

void WidgetTriax::quit()
{
    close();
}

void WidgetTriax::queueCommand(const QString &command)
{
    commandQueue.append(command);
    emit checkQueue();
}

void WidgetTriax::readCommandQueue()
{
    if (commandQueue.isEmpty() || inFlight)
        return;
    const QString head = commandQueue.first();
    if (ckbVerbose->isChecked())
        stopwatch.start();

    // Set before the write: a write that fails delivers its reception inside
    // transmitMsg, and the dispatch of that reception ends the flight.
    inFlight = true;
    char byte = 0;
    if (matchByteEscape(head, &byte))
        serial->transmitMsg(&byte, 1, shortWait);
    else if (head == QLatin1String("O2000"))
        serial->transmitMsg("O2000", 6, wakeUpWait); // the NUL ends the command
    else if (!head.isEmpty() && commandLetters.contains(head.at(0)))
        serial->transmitMsg(head, QStringLiteral("\r"), shortWait);
    else if (head == QLatin1String(" "))
        serial->transmitMsg(head, QString(), wakeUpWait);
    else if (head == QLatin1String("A"))
        serial->transmitMsg(head, QString(), startWait);
    else
        serial->transmitMsg(head, QString(), shortWait);
}
