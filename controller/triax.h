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
    void sendCLICommand();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void queueCommand(const QString &command);
    void installValidators();

    // Set while the head of the queue has been written and its reception is
    // awaited, so that a command appended meanwhile does not send the head a
    // second time.
    bool inFlight = false;
};

#endif
