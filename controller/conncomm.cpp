#include "triax.h"

#include "serialconnection.h"

#include <QDebug>
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

void WidgetTriax::messageReceived()
{
    // Only the link's event-driven mode can deliver a reception that no
    // write asked for; there is no command it could belong to.
    if (commandQueue.isEmpty())
        return;
    // Until its answer has been handled the head counts as out, whichever
    // way the reception came: a follow-up appended by a parser must not
    // write it again.
    inFlight = true;

    if (ckbVerbose->isChecked()) {
        const qint64 elapsed = elapsedSinceSent();
        const QString head = takeCarriageReturns();
        qDebug().noquote().nospace()
            << QStringLiteral("tx: \"%1\" rx: \"%2\" elapsed time (ms): %3")
                   .arg(head, QString::fromLatin1(serial->rxMsg))
                   .arg(elapsed);
    }

    const bool isAnswer = !serial->rxMsg.isEmpty();
    if (isAnswer) {
        dispatchAnswer();
    } else {
        const QString &head = commandQueue.first();
        if (head == QLatin1String("\\248")) {
            qDebug("<248> was sent, no answer");
        } else if (head == QLatin1String("\\222")) {
            qDebug("<222> was sent, no answer");
        } else if (head == QLatin1String(" ")) {
            qDebug("not receiving answer (space) after 500ms");
            serial->flush();
        }
    }

    if (!commandQueue.isEmpty())
        currentCommand = commandQueue.takeFirst();
    // The flight ends only now: whatever a parser appended while the head
    // was still out goes after it, and is written exactly once.
    inFlight = false;
    // After an empty reception the queue rests until an action moves it.
    if (isAnswer)
        emit checkQueue();
}

void WidgetTriax::dispatchAnswer()
{
    const QString &head = commandQueue.first();
    if (head == QLatin1String(" "))
        parseSPACE();
    else if (head == QLatin1String("O2000"))
        parseO2000();
    else if (head == QLatin1String("\\247"))
        parse247();
    else if (head == QLatin1String("A"))
        parseA();
    else if (head == QLatin1String("E"))
        parseE();
    else if (head.startsWith(u'F'))
        parseF();
    else if (head.startsWith(u'H'))
        parseH();
    else if (head.startsWith(QLatin1String("Z61")))
        parseZ61();
    else if (head.startsWith(QLatin1String("Z62")))
        parseZ62();
    else if (head.startsWith(QLatin1String("Z452")))
        parseZ452();
    else if (head.startsWith(QLatin1String("Z451")))
        parseZ451();
    else if (head.startsWith(u'j'))
        parseReadSlitPosition();
    else if (head.startsWith(u'k'))
        parseNewSlitPosition();
    else
        parseDEFAULT();
}

QString WidgetTriax::takeCarriageReturnsFromHead()
{
    commandQueue.first().remove(u'\r');
    return commandQueue.first();
}

// Verbose traces show the exchange without the carriage returns, in the
// reception and in the head command alike.
QString WidgetTriax::takeCarriageReturns()
{
    serial->rxMsg.replace('\r', QByteArray());
    return takeCarriageReturnsFromHead();
}

// The stopwatch runs only for commands sent in verbose mode; one never
// started reads 0.
qint64 WidgetTriax::elapsedSinceSent() const
{
    return stopwatch.isValid() ? stopwatch.elapsed() : 0;
}
