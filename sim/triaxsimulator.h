#ifndef TRIAXSIMULATOR_H
#define TRIAXSIMULATOR_H

#include "lineschedule.h"
#include "triaxmodel.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QObject>
#include <QString>

class QSocketNotifier;
class QTimer;

// The simulated instrument on a pseudo-terminal: the panel opens
// devicePath() as its serial device. Bytes from the panel are framed into
// commands the way the instrument reads its line, each command is answered
// by the model, and the answer goes back unless a fault is injected on it.
class TriaxSimulator : public QObject
{
    Q_OBJECT

public:
    // Faults act on the line, not on the instrument: the command has been
    // carried out all the same, only its answer is lost or mangled. The
    // first fault in the list that matches a command applies to it.
    struct Fault
    {
        enum Kind { NoAnswer, Garbage, Split, Late };
        Kind kind = NoAnswer;
        // Only commands (without terminator) starting with this are hit; an
        // empty prefix hits every command that has an answer.
        QByteArray prefix;
        // 0: every such command; n: only the n-th, a transient fault.
        int occurrence = 0;
    };

    // When something happens to the instrument as a whole: after so many
    // commands have come in, or so many milliseconds after the start.
    struct Trigger
    {
        enum Unit { Never, Commands, Milliseconds };
        Unit unit = Never;
        int count = 0;
    };

    struct Options
    {
        TriaxModel::State state = TriaxModel::State::Running;
        int grating = 0;
        double wavelength = 500.0;
        int entranceSlit = 100;
        int exitSlit = 100;
        double speed = TriaxModel::defaultSpeed;
        QList<Fault> faults;
        // Longer than the panel's usual 200 ms wait, so that a late answer or
        // the rest of a split one lands in the next command's reception.
        int faultDelay = 300;
        // Byte log: empty for none, "-" for standard error, or a file name.
        QString logFile;
        // The line is cut, as when an adapter is unplugged.
        Trigger hangUp;
        // The instrument falls back to the state it woke up in, as when it is
        // switched off and on.
        Trigger restart;
        // A fixed name for the device: a symbolic link to it, made at the
        // start and taken away at the end.
        QString link;
        // The line's speed: a command is heard once its bytes would have come
        // in, and answers go out byte by byte at this rate. 0: as fast as the
        // pseudo-terminal takes them.
        int baud = 0;
        // Milliseconds the instrument thinks before it starts an answer.
        int latency = 0;
    };

    explicit TriaxSimulator(const Options &options, QObject *parent = nullptr);
    ~TriaxSimulator() override;

    bool isValid() const { return errorText.isEmpty(); }
    QString errorString() const { return errorText; }
    QString devicePath() const { return path; }

    // Every framed command in arrival order, each as it came on the wire,
    // terminator included ("H0\r", " ", "O2000" plus its NUL, "\xf7").
    QList<QByteArray> commands() const { return received; }
    void clearCommands() { received.clear(); }

    TriaxModel &model() { return instrument; }
    const TriaxModel &model() const { return instrument; }

    // Closes the instrument's end of the line for good.
    void hangUp();
    void restart();

Q_SIGNALS:
    // Emitted before the command is answered, with its wire form.
    void commandReceived(const QByteArray &command);
    // Bytes as they reach the panel's end of the line.
    void bytesSent(const QByteArray &bytes);
    void hungUp();

private:
    void openMaster();
    void openLog(const QString &fileName);
    void makeLink(const QString &name);
    void arm(const Trigger &trigger, void (TriaxSimulator::*action)());
    void countCommand();
    void closeLine();
    void readLine();
    void lineClosed();
    void checkReopened();
    void take(char byte);
    void commandGapElapsed();
    void frame(const QByteArray &wire, const QByteArray &command, bool answered);
    void respond(const QByteArray &command, qint64 due);
    void send(const QByteArray &bytes, qint64 due);
    void sendDue();
    void write(const QByteArray &bytes);
    void logLine(const QByteArray &text);

    TriaxModel instrument;
    TriaxModel::State wakeUpState;
    QList<Fault> faults;
    QList<int> faultHits;
    Trigger hangUpTrigger;
    Trigger restartTrigger;
    QString linkName;
    int commandCount = 0;
    int faultDelay;
    LineSchedule line;
    int latency;
    QTimer *output;
    int master = -1;
    QString path;
    QString errorText;
    QSocketNotifier *readNotifier = nullptr;
    QTimer *commandGap;
    QTimer *reopenPoll;
    bool panelAway = false;
    QByteArray pending;
    QList<QByteArray> received;
    QElapsedTimer clock;
    QFile log;
};

#endif
