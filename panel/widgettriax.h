#ifndef WIDGETTRIAX_H
#define WIDGETTRIAX_H

#include "eventlog.h"
#include "triaxcontroller.h"

#include <QDockWidget>
#include <QString>

#include <memory>

namespace Ui {
class Triax;
}

// The dock window the operator sees: it shows the controller's state and
// values and hands the operator's edits to it. Requests from other faces
// show in the fields the operator would have typed them into.
class WidgetTriax : public QDockWidget
{
    Q_OBJECT

public:
    // remoteControl is shown as the remote-control port: a port, or an
    // address and a port; pageAddress as the address of the instrument's page
    // on it, for the operator to hand on; scpi as the SCPI port, its row left
    // out when empty.
    WidgetTriax(TriaxController *controller, const QString &remoteControl,
        const QString &pageAddress = QString(), const QString &scpi = QString(),
        QWidget *parent = nullptr);
    ~WidgetTriax() override;

public Q_SLOTS:
    // Adds a line to the log pane, with the time it came. The instrument's
    // events and traces come on their own; other lines come here.
    void appendLog(const QString &line);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void connectForm();
    void connectController();
    void installValidators();
    void showState(TriaxController::State state);
    void enableGui(bool on);
    void displayStatus(const QString &text);
    void showGrating(int index);
    void listDevices();
    QString chosenDevice() const;
    void saveLog();
    void showLogEvent(const EventLog::Event &event);

    TriaxController *controller;
    std::unique_ptr<Ui::Triax> ui;
    // The id of the event on the log's last line, 0 when another line is last.
    quint64 lastLineEvent = 0;
};

#endif
