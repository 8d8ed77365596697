#ifndef TRIAXCONTROLLER_H
#define TRIAXCONTROLLER_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class CommandEngine;
class EventLog;
class SerialConnection;
template<typename T>
struct TriaxLimit;

// The instrument as the rest of the program knows it: its state, the values
// it last reported, and the requests it takes. Each request is checked here,
// against the state and the limits of TriaxLimits, and answers why it was
// refused, or nothing when it was taken; the command engine sends what it
// queues, and the instrument's protocol reads the answers.
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

    // What the instrument takes in a state, the one table that every face
    // shows: connect while the port is closed, lost or not opened, or while
    // the instrument wakes up; close while it is open and no locked motion
    // runs, or silent; requests while it is ready.
    struct Accepts
    {
        bool connect = false;
        bool close = false;
        bool requests = false;
    };
    static Accepts accepts(State state);
    Accepts accepts() const { return accepts(m_state); }

    // Where a program that waits for the instrument stands: the instrument is
    // ready with nothing queued or in flight; it may still get there (it
    // wakes up, moves, reads back or answers queued commands); or it will not
    // by itself, for settlingFailure().
    enum class Settling { Settled, Pending, Failed };
    Settling settling() const;
    // Why the instrument will not become ready by itself: the fault's reason,
    // or that the port is closed. Empty unless settling() is Failed.
    QString settlingFailure() const;

    // Who asked for a request, as its log line names them ("the window", a
    // client's address), and the words they asked in ("setWavelength 2000");
    // without words the line names the request in the controller's own.
    struct Requester
    {
        QString origin;
        QString words;
    };

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
    // 1 while the instrument is initialised and takes a new motion: reading
    // back or ready. 0 from the moment a motion is asked for until the motor
    // has stopped, so it turns 1 before the values have been read back.
    int ready() const { return m_state == State::ReadingBack || m_state == State::Ready; }
    // Grows by one each time a complete set of values has been read back,
    // after the start-up and after every motion.
    int readBacks() const { return m_readBacks; }

    // The last values read back, as the instrument wrote them and as numbers.
    // Until the first read-back the texts are empty and the numbers 0.
    QString positionText() const { return m_positionText; }
    int position() const { return m_positionText.toInt(nullptr, 10); }
    // The window's two decimals, cut off rather than rounded, as the panel has
    // always shown them; the number is the instrument's whole reading, which
    // programs record (1234.575, not 1234.57).
    QString wavelengthText() const;
    double wavelength() const { return m_wavelengthReading.toDouble(); }
    QString inSlitText() const { return m_inSlitText; }
    int inSlitSteps() const { return m_inSlitText.toInt(); }
    QString outSlitText() const { return m_outSlitText; }
    int outSlitSteps() const { return m_outSlitText.toInt(); }
    // The grating asked for last, or read back last, whichever came later.
    int grating() const { return m_grating; }

    QString devicePath() const;
    // Every request with its verdict, every change of state and every
    // warning; the other parts of the program add theirs.
    EventLog *events() const { return eventLog; }
    bool isVerbose() const;
    // What waits to go out, the command in flight first.
    QList<QString> queuedCommands() const;

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
    // The queue was asked to send its next command, after a command was
    // queued or an answer handled; whatever could go out has gone by then.
    void checkQueue();
    // In verbose mode, every traced exchange, as written to the standard
    // error: a view can show them to an operator who never sees that.
    void exchangeTraced(const QString &line);
    // The device the next openPort() opens, chosen from whichever face.
    void devicePathChanged(const QString &path);

public Q_SLOTS:
    // Refused, and logged so, when the port cannot be opened or is open.
    void openPort(const TriaxController::Requester &by = {});
    void closePort(const TriaxController::Requester &by = {});
    // The device the next openPort() opens. Refused, returning false, while
    // the port is open: the instrument keeps the line it is on.
    bool setDevicePath(const QString &path);
    // The requests: each is taken only while the instrument is ready and
    // within its limit, and returns its verdict: an empty text when taken,
    // else the request and why it was refused ("wavelength 2000 nm refused:
    // outside 250 to 1300 nm, ..."). Either way it is logged with by.
    // typed is the number as the operator typed it: the instrument is sent
    // it as typed when it reads as the same number, else as the operator
    // would type it, 546.07 as 546.07 and 1234.5678 as 1234.57.
    QString newWavelength(double nanometres, const QString &typed = QString(),
        const TriaxController::Requester &by = {});
    QString moveRelative(
        int steps, const QString &typed = QString(), const TriaxController::Requester &by = {});
    // Slits are given as absolute widths and moved relative to the last
    // width read back.
    QString newInSlit(
        int width, const QString &typed = QString(), const TriaxController::Requester &by = {});
    QString newOutSlit(
        int width, const QString &typed = QString(), const TriaxController::Requester &by = {});
    QString changeGrating(int index, const TriaxController::Requester &by = {});
    // A command typed by the operator, sent as it is and never repeated.
    void sendCLICommand(const QString &typed, const TriaxController::Requester &by = {});
    // Traces every exchange on the debug output.
    void setVerbose(bool on);
    // Milliseconds of quiet line after which a complete answer is read
    // without waiting out its command's whole waiting time; 0, the default,
    // always waits it out.
    void setAnswerGap(int milliseconds);

private:
    void portLost(const QString &reason);
    void setState(State state, const QString &text = QString(), const QString &reason = QString());
    void recordState(State before);
    void setFault(State state, const QString &reason, const QString &text = QString());
    void warn(const QString &line);
    bool readAnswer(const QString &head, const QByteArray &received);
    void becameReady(bool afterMotion);
    void readBackAnswered();
    // Why no request is taken now, whatever its value; empty while they are.
    QString notTakenNow() const;
    template<typename T>
    QString verdict(const char *name, const TriaxLimit<T> &limit, T value, const QString &written,
        const Requester &by);
    void logRequest(const QString &what, const QString &why, const Requester &by);
    QString take(const QString &refused, const QString &written,
        void (TriaxController::*requested)(const QString &), const QString &command);
    void askedForMotion();
    void selectGrating(int index);
    void showMotorBusy(bool quiet = false);

    EventLog *eventLog;
    std::unique_ptr<SerialConnection> serial;
    std::unique_ptr<CommandEngine> engine;

    State m_state = State::Closed;
    QString m_statusText;
    QString m_faultReason;
    int m_readBacks = 0;
    QString m_positionText;
    QString m_wavelengthReading;
    QString m_inSlitText;
    QString m_outSlitText;
    int m_grating = 0;
};

#endif
