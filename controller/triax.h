#ifndef TRIAX_H
#define TRIAX_H

#include "ui_triax.h"

#include <QChar>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <memory>

class SerialConnection;
class ServerXmlRPC;
struct CommandKind;

// The dock window the operator sees and, at the same time, the hub of the
// system: it owns the serial link and the command queue, and it holds the
// instrument's last known state. Commands go out strictly one at a time from
// commandQueue; element 0 is the command in flight or the next one to send.
class WidgetTriax : public QDockWidget, public Ui::Triax
{
    Q_OBJECT

public:
    WidgetTriax(QDockWidget *parent, const QString &device, int port);
    ~WidgetTriax() override;

    void enableGui(bool on);
    void displayStatus(const QString &text);

    // Serves the remote methods on the port from the command line; a child.
    ServerXmlRPC *remoteApi = nullptr;
    // 1 while the instrument is initialised and idle and takes a new motion.
    int ready = 0;
    // Last known slit widths in motor steps and grating index; 0 until the
    // instrument reports them, so a remote reader never sees garbage.
    int inSlitSteps = 0;
    int outSlitSteps = 0;
    int grating = 0;
    QString wavelengthText;
    QChar answerHead;
    QString currentCommand;
    QString answer;
    // First characters of the commands that end with a carriage return.
    QList<QChar> commandLetters;
    QElapsedTimer stopwatch;
    std::unique_ptr<SerialConnection> serial;
    QList<QString> commandQueue;

Q_SIGNALS:
    void checkQueue();

public Q_SLOTS:
    void openPort();
    void closePort();
    void newInSlit();
    void newOutSlit();
    void newWavelength();
    void changeGrating(int index);
    void moveRelative();

private Q_SLOTS:
    void quit();
    void readCommandQueue();
    void messageReceived();
    void sendCLICommand();
    void portLost(const QString &reason);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void queueCommand(const QString &command);
    void installValidators();

    const CommandKind &kindOf(const QString &command) const;
    void transmit(const QString &head, const CommandKind &kind);
    enum class Misfire { Ignore, AskAgain, FollowUp, GiveUp };
    Misfire handleMisfire(const QString &head, const CommandKind &kind, bool typed);
    void showMotorBusy();
    void showNoAnswer(const QString &head);
    void dropQueue();

    // Answer parsers, one per kind of head command. Each runs while its
    // command is still at the head of the queue, may append follow-ups, and
    // leaves removing the head and sending the next command to the dispatch.
    // Each returns whether it understood the answer.
    bool parseSPACE();
    bool parseO2000();
    bool parse247();
    bool parseA();
    bool parseE();
    bool parseF();
    bool parseH();
    bool parseZ61();
    bool parseZ62();
    bool parseZ452();
    bool parseZ451();
    bool parseReadSlitPosition();
    bool parseNewSlitPosition();
    bool parseDEFAULT();

    void captureAnswer();
    void captureAnswerHead();
    char receivedByte(int index) const;
    bool motionAccepted(const char *strangeResult);
    QString takeCarriageReturnsFromHead();
    QString takeCarriageReturns();
    qint64 elapsedSinceSent() const;

    // Set while the head of the queue has been written and its reception is
    // awaited, so that a command appended meanwhile does not send the head a
    // second time.
    bool inFlight = false;
    // Commands count from the first one ever queued; headPosition is the
    // count of the head. typedPositions holds the counts of the queued
    // commands the operator typed, which are sent exactly as often as the
    // operator asked.
    qint64 headPosition = 0;
    QList<qint64> typedPositions;
    // How often in a row the head has been asked again.
    int retries = 0;
};

#endif
