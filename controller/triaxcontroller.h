#ifndef TRIAXCONTROLLER_H
#define TRIAXCONTROLLER_H

#include <QChar>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class SerialConnection;
struct CommandKind;

// The instrument as the rest of the program knows it: the serial link, the
// command queue, the parsers of the instrument's answers and what they last
// reported. Commands go out strictly one at a time from commandQueue;
// element 0 is the command in flight or the next one to send.
//
// The window, the remote methods and the headless server are faces of this
// one object: they read its state and values and ask it for actions, and it
// announces every change with a signal. Nothing here knows a widget.
class TriaxController : public QObject
{
    Q_OBJECT

public:
    enum class State {
        Closed, // the port is closed
        WakingUp, // the port is open and the wake-up sequence runs, the 90 s start included
        ReadingBack, // the instrument is ready; its values are being read back
        Ready, // the instrument is idle and every value has been read back
        Busy, // a motion is being polled and the panel is locked until it ends
        Moving, // a motion asked for, or a relative drive move polled with the panel open
        NoAnswer, // the instrument has gone silent; only close helps
        PortLost, // the device went away
        OpenFailed, // the port could not be opened; statusText() says why
    };
    Q_ENUM(State)

    explicit TriaxController(const QString &device, QObject *parent = nullptr);
    ~TriaxController() override;

    State state() const { return m_state; }
    // The status read-out: the text of the state, or why the port could not
    // be opened.
    QString statusText() const { return m_statusText; }
    static QString statusText(State state);
    // While the instrument is silent, the port lost or not opened: the
    // warning line that said why. Empty in every other state.
    QString faultReason() const { return m_faultReason; }
    // 1 while the instrument is initialised and takes a new motion; 0 from
    // the moment a motion is asked for until the motor has stopped, so it
    // turns 1 before the values have been read back.
    int ready() const { return m_ready; }
    // Grows by one each time a complete set of values has been read back,
    // after the start-up and after every motion.
    int readBacks() const { return m_readBacks; }

    // The last values read back, as the instrument wrote them and as numbers.
    // Until the first read-back the texts are empty and the numbers 0.
    QString positionText() const { return m_positionText; }
    int position() const { return m_positionText.toInt(nullptr, 10); }
    QString wavelengthText() const { return m_wavelengthText; }
    double wavelength() const { return m_wavelengthText.toDouble(); }
    QString inSlitText() const { return m_inSlitText; }
    int inSlitSteps() const { return m_inSlitText.toInt(); }
    QString outSlitText() const { return m_outSlitText; }
    int outSlitSteps() const { return m_outSlitText.toInt(); }
    // The grating asked for last, or read back last, whichever came later.
    int grating() const { return m_grating; }

    QString devicePath() const;
    bool isVerbose() const { return verbose; }
    // What waits to go out, the command in flight first.
    QList<QString> queuedCommands() const { return commandQueue; }

Q_SIGNALS:
    void stateChanged(TriaxController::State state);
    // Each read-back announces its value, also when it has not changed, so
    // that a view shows the instrument's word over a half-typed entry.
    void positionChanged(const QString &text);
    void wavelengthChanged(const QString &text);
    void inSlitChanged(const QString &text);
    void outSlitChanged(const QString &text);
    void gratingChanged(int index);
    // After the last value of a read-back set has been recorded.
    void readBackCompleted(int count);
    // An action was asked for with this text, from whichever face: a view
    // shows it in the field the operator would have typed it into.
    void wavelengthRequested(const QString &text);
    void moveRequested(const QString &steps);
    void inSlitRequested(const QString &width);
    void outSlitRequested(const QString &width);
    void checkQueue();
    // Every warning line and, in verbose mode, every traced exchange, as
    // written to the standard error: a view can show them to an operator who
    // never sees that.
    void warningLogged(const QString &line);
    void exchangeTraced(const QString &line);
    // The device the next openPort() opens, chosen from whichever face.
    void devicePathChanged(const QString &path);

public Q_SLOTS:
    void openPort();
    void closePort();
    // The device the next openPort() opens. Refused, returning false, while
    // the port is open: the instrument keeps the line it is on.
    bool setDevicePath(const QString &path);
    // The texts go to the instrument as given: the wavelength in nm with a
    // point for decimals, the steps and widths as whole numbers.
    void newWavelength(const QString &text);
    void moveRelative(const QString &steps);
    // Slits are given as absolute widths and moved relative to the last
    // width read back.
    void newInSlit(const QString &width);
    void newOutSlit(const QString &width);
    void changeGrating(int index);
    // A command typed by the operator, sent as it is and never repeated.
    void sendCLICommand(const QString &typed);
    // Traces every exchange on the debug output.
    void setVerbose(bool on);
    // Milliseconds of quiet line after which a complete answer is read
    // without waiting out its command's whole waiting time; 0, the default,
    // always waits it out.
    void setAnswerGap(int milliseconds);

private Q_SLOTS:
    void readCommandQueue();
    void messageReceived();
    void portLost(const QString &reason);

private:
    friend class TestAnswers;

    void queueCommand(const QString &command);
    void setState(State state, const QString &text = QString(), const QString &reason = QString());
    void setFault(State state, const QString &reason, const QString &text = QString());
    void warn(const QString &line);
    void trace(const QString &line);
    void askedForMotion();
    void queueReadBack(const QList<QString> &commands);
    void endReadBack();

    const CommandKind &kindOf(const QString &command) const;
    void transmit(const QString &head, const CommandKind &kind);
    bool headIsTyped() const;
    enum class Misfire { Ignore, AskAgain, FollowUp, GiveUp };
    Misfire handleMisfire(const QString &head, const CommandKind &kind, bool typed);
    void showMotorBusy(bool quiet = false);
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
    void reportStrangeAnswer(const char *line) const;
    bool motionAccepted(const char *strangeResult);
    QString takeCarriageReturnsFromHead();
    QString takeCarriageReturns();
    qint64 elapsedSinceSent() const;

    std::unique_ptr<SerialConnection> serial;
    QList<QString> commandQueue;
    // First characters of the commands that end with a carriage return.
    QList<QChar> commandLetters;
    QElapsedTimer stopwatch;
    bool verbose = false;

    State m_state = State::Closed;
    QString m_statusText;
    QString m_faultReason;
    int m_ready = 0;
    int m_readBacks = 0;
    QString m_positionText;
    QString m_wavelengthText;
    QString m_inSlitText;
    QString m_outSlitText;
    int m_grating = 0;

    QChar answerHead;
    QString currentCommand;
    QString answer;

    // Set while the head of the queue has been written and its reception is
    // awaited, so that a command appended meanwhile does not send the head a
    // second time.
    bool inFlight = false;
    // Commands count from the first one ever queued; headPosition is the
    // count of the head. typedPositions holds the counts of the queued
    // commands the operator typed, which are sent exactly as often as the
    // operator asked; readBackEnds the counts of the last command of each
    // read-back set still to be answered.
    qint64 headPosition = 0;
    QList<qint64> typedPositions;
    QList<qint64> readBackEnds;
    // How often in a row the head has been asked again.
    int retries = 0;
    // The next command written waits its whole time whatever its answer.
    bool wholeWaitNext = false;
};

#endif
