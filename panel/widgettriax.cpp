#include "widgettriax.h"

#include "monopanelversion.h"
#include "triaxlimits.h"
#include "ui_triax.h"
#include "windowlog.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QDoubleValidator>
#include <QFileDialog>
#include <QIntValidator>
#include <QLocale>
#include <QSaveFile>
#include <QSerialPortInfo>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTime>

namespace {

// A request from another face shows in its field; the operator's own entry
// is left as typed.
void showRequest(QLineEdit *field, const QString &text)
{
    if (field->text() != text)
        field->setText(text);
}

// The window's requests are logged as coming from it.
const TriaxController::Requester fromWindow { QStringLiteral("the window"), QString() };

} // namespace

WidgetTriax::WidgetTriax(TriaxController *controller, const QString &remoteControl,
    const QString &pageAddress, const QString &scpi, QWidget *parent)
    : QDockWidget(parent)
    , controller(controller)
    , ui(std::make_unique<Ui::Triax>())
{
    ui->setupUi(this);
    ui->lbPortValue->setText(remoteControl);
    ui->lbPageValue->setText(pageAddress);
    ui->lbScpiValue->setText(scpi);
    ui->lbScpi->setVisible(!scpi.isEmpty());
    ui->lbScpiValue->setVisible(!scpi.isEmpty());
    ui->lbDeviceValue->setText(controller->devicePath());
    ui->lbBuild->setText(QStringLiteral("build " MONOPANEL_VERSION));
    listDevices();
    ui->ckbVerbose->setChecked(controller->isVerbose());
    ui->leMotPos->setText(controller->positionText());
    ui->leWavelength->setText(controller->wavelengthText());
    ui->leInSlit->setText(controller->inSlitText());
    ui->leOutSlit->setText(controller->outSlitText());
    showGrating(controller->grating());
    showState(controller->state());

    // What happened before the window came, its start included. The log has folded its
    // repetitions already: each of its events is a line of its own.
    for (const EventLog::Event &event : controller->events()->after(0, EventLog::Capacity)) {
        lastLineEvent = 0;
        showLogEvent(event);
    }

    installValidators();
    connectForm();
    connectController();
}

WidgetTriax::~WidgetTriax() = default;

void WidgetTriax::connectForm()
{
    connect(ui->pbOpen, &QPushButton::clicked, controller,
        [this] { controller->openPort(fromWindow); });
    connect(ui->pbClose, &QPushButton::clicked, controller,
        [this] { controller->closePort(fromWindow); });
    connect(ui->pbQuit, &QPushButton::clicked, this, &WidgetTriax::close);
    connect(ui->cbDevice, &QComboBox::currentTextChanged, this,
        [this] { controller->setDevicePath(chosenDevice()); });
    connect(ui->pbRefreshDevices, &QPushButton::clicked, this, &WidgetTriax::listDevices);
    connect(ui->pbSaveLog, &QPushButton::clicked, this, &WidgetTriax::saveLog);
    connect(ui->ckbVerbose, &QCheckBox::toggled, controller, &TriaxController::setVerbose);
    connect(ui->leCommandLI, &QLineEdit::returnPressed, this,
        [this] { controller->sendCLICommand(ui->leCommandLI->text(), fromWindow); });
    // The validators let through only numbers in the instrument's notation,
    // which the C locale reads. A refusal says why in the log, with every
    // other request's verdict.
    connect(ui->leWavelength, &QLineEdit::returnPressed, this, [this] {
        const QString typed = ui->leWavelength->text();
        controller->newWavelength(QLocale::c().toDouble(typed), typed, fromWindow);
    });
    connect(ui->leMoveRel, &QLineEdit::returnPressed, this, [this] {
        const QString typed = ui->leMoveRel->text();
        controller->moveRelative(QLocale::c().toInt(typed), typed, fromWindow);
    });
    connect(ui->leInSlit, &QLineEdit::returnPressed, this, [this] {
        const QString typed = ui->leInSlit->text();
        controller->newInSlit(QLocale::c().toInt(typed), typed, fromWindow);
    });
    connect(ui->leOutSlit, &QLineEdit::returnPressed, this, [this] {
        const QString typed = ui->leOutSlit->text();
        controller->newOutSlit(QLocale::c().toInt(typed), typed, fromWindow);
    });
    connect(ui->cbGrating, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!controller->changeGrating(index, fromWindow).isEmpty())
            showGrating(controller->grating());
    });
}

void WidgetTriax::connectController()
{
    connect(controller, &TriaxController::stateChanged, this, &WidgetTriax::showState);
    connect(controller, &TriaxController::devicePathChanged, ui->lbDeviceValue, &QLabel::setText);
    connect(controller->events(), &EventLog::recorded, this, &WidgetTriax::showLogEvent);
    connect(controller, &TriaxController::exchangeTraced, this, &WidgetTriax::appendLog);
    connect(controller, &TriaxController::positionChanged, ui->leMotPos, &QLineEdit::setText);
    connect(controller, &TriaxController::wavelengthChanged, ui->leWavelength, &QLineEdit::setText);
    connect(controller, &TriaxController::inSlitChanged, ui->leInSlit, &QLineEdit::setText);
    connect(controller, &TriaxController::outSlitChanged, ui->leOutSlit, &QLineEdit::setText);
    connect(controller, &TriaxController::gratingChanged, this, &WidgetTriax::showGrating);
    connect(controller, &TriaxController::wavelengthRequested, this,
        [this](const QString &text) { showRequest(ui->leWavelength, text); });
    connect(controller, &TriaxController::moveRequested, this,
        [this](const QString &text) { showRequest(ui->leMoveRel, text); });
    connect(controller, &TriaxController::inSlitRequested, this,
        [this](const QString &text) { showRequest(ui->leInSlit, text); });
    connect(controller, &TriaxController::outSlitRequested, this,
        [this](const QString &text) { showRequest(ui->leOutSlit, text); });
}

void WidgetTriax::installValidators()
{
    // Field texts go to the instrument as typed, so every field reads numbers
    // the way the instrument does: a point for decimals, no group separators,
    // no exponent, whatever the operator's locale.
    QLocale instrumentLocale = QLocale::c();
    instrumentLocale.setNumberOptions(QLocale::RejectGroupSeparator);

    using namespace TriaxLimits;
    auto *moveValidator = new QIntValidator(relativeMove.minimum, relativeMove.maximum, this);
    moveValidator->setLocale(instrumentLocale);
    ui->leMoveRel->setValidator(moveValidator);

    auto *wavelengthValidator
        = new QDoubleValidator(wavelength.minimum, wavelength.maximum, wavelength.decimals, this);
    wavelengthValidator->setLocale(instrumentLocale);
    wavelengthValidator->setNotation(QDoubleValidator::StandardNotation);
    ui->leWavelength->setValidator(wavelengthValidator);

    auto *slitValidator = new QIntValidator(slit.minimum, slit.maximum, this);
    slitValidator->setLocale(instrumentLocale);
    ui->leInSlit->setValidator(slitValidator);
    ui->leOutSlit->setValidator(slitValidator);
    // The slits' scale, from the same limit.
    const QString scale = QStringLiteral("size in steps\n2mm in %1 steps").arg(slit.maximum);
    ui->leInSlit->setToolTip(QStringLiteral("in slit ") + scale);
    ui->leOutSlit->setToolTip(QStringLiteral("out slit ") + scale);
}

// Each state has its look, from what the instrument takes in it: idle while
// only connect is offered, open while close is (the command line too) and
// its request fields while requests are taken, locked while the motor runs,
// and with only close left when the instrument has gone silent.
void WidgetTriax::showState(TriaxController::State state)
{
    using State = TriaxController::State;
    displayStatus(controller->statusText());
    const TriaxController::Accepts accepts = TriaxController::accepts(state);
    // Open, the command line included, while the instrument answers and can
    // be closed.
    enableGui(accepts.close && state != State::NoAnswer);
    const QList<QWidget *> requestFields { ui->leWavelength, ui->leMoveRel, ui->leInSlit,
        ui->leOutSlit, ui->cbGrating };
    for (QWidget *field : requestFields)
        field->setEnabled(accepts.requests);
    ui->pbOpen->setEnabled(accepts.connect);
    ui->pbClose->setEnabled(accepts.close);
    // Quitting would leave a locked motion running unwatched.
    if (state == State::Busy)
        ui->pbQuit->setEnabled(false);
    // The device is chosen while the port is closed; an open port keeps its own.
    const bool closed
        = state == State::Closed || state == State::PortLost || state == State::OpenFailed;
    ui->cbDevice->setEnabled(closed);
    ui->pbRefreshDevices->setEnabled(closed);
}

void WidgetTriax::enableGui(bool on)
{
    ui->pbQuit->setEnabled(!on);
    ui->pbClose->setEnabled(on);
    ui->pbOpen->setEnabled(!on);
    ui->leCommandLI->setEnabled(on);
    ui->leWavelength->setEnabled(on);
    ui->leMotPos->setEnabled(on);
    ui->leMoveRel->setEnabled(on);
    ui->leInSlit->setEnabled(on);
    ui->leOutSlit->setEnabled(on);
    ui->cbGrating->setEnabled(on);
}

void WidgetTriax::displayStatus(const QString &text)
{
    ui->lbReady->setText(text);
}

// The controller has chosen the grating already; the box only shows it.
void WidgetTriax::showGrating(int index)
{
    const QSignalBlocker quiet(ui->cbGrating);
    ui->cbGrating->setCurrentIndex(index);
}

// The ports the system reports, each by its name and what it is, for
// instance "ttyUSB0 (FT232R USB UART, FTDI)", and standing for its path. The
// device the controller has stays chosen, listed or not.
void WidgetTriax::listDevices()
{
    const QString device = controller->devicePath();
    const QSignalBlocker quiet(ui->cbDevice);
    ui->cbDevice->clear();
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports) {
        QStringList about;
        for (const QString &text : { port.description(), port.manufacturer() }) {
            if (!text.isEmpty())
                about << text;
        }
        const QString name = about.isEmpty()
            ? port.portName()
            : QStringLiteral("%1 (%2)").arg(port.portName(), about.join(QStringLiteral(", ")));
        ui->cbDevice->addItem(name, port.systemLocation());
        ui->cbDevice->setItemData(
            ui->cbDevice->count() - 1, port.systemLocation(), Qt::ToolTipRole);
    }
    const int listed = ui->cbDevice->findData(device);
    if (listed >= 0)
        ui->cbDevice->setCurrentIndex(listed);
    else
        ui->cbDevice->setEditText(device);
}

// A port of the list stands for its path; anything else is a path as typed.
QString WidgetTriax::chosenDevice() const
{
    const QString text = ui->cbDevice->currentText().trimmed();
    const int listed = ui->cbDevice->findText(text);
    return listed >= 0 ? ui->cbDevice->itemData(listed).toString() : text;
}

void WidgetTriax::appendLog(const QString &line)
{
    lastLineEvent = 0;
    ui->teLog->appendPlainText(QStringLiteral("%1 %2").arg(
        QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")), line));
}

// An event repeated replaces its line when nothing came between, as the
// event log folds it.
void WidgetTriax::showLogEvent(const EventLog::Event &event)
{
    const QString line = QStringLiteral("%1 %2").arg(
        event.time.toLocalTime().toString(QStringLiteral("HH:mm:ss.zzz")), event.line());
    if (event.count > 1 && lastLineEvent != 0) {
        QTextCursor cursor(ui->teLog->document()->lastBlock());
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        cursor.insertText(line);
    } else {
        ui->teLog->appendPlainText(line);
    }
    lastLineEvent = event.id;
}

void WidgetTriax::saveLog()
{
    const QString suggested = QDir::home().filePath(
        QStringLiteral("monopanel-%1.log")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    const QString fileName = QFileDialog::getSaveFileName(this, QStringLiteral("Save the log"),
        suggested, QStringLiteral("Logs (*.log *.txt);;All files (*)"));
    if (fileName.isEmpty())
        return;
    QSaveFile file(fileName);
    QByteArray text = ui->teLog->toPlainText().toUtf8();
    if (!text.isEmpty())
        text += '\n';
    if (file.open(QIODevice::WriteOnly | QIODevice::Text) && file.write(text) == text.size()
        && file.commit())
        return;
    // The panel opens no message boxes: the failure shows where the operator
    // is looking already.
    const QString line
        = QStringLiteral("log: cannot save to %1: %2").arg(fileName, file.errorString());
    qCWarning(lcWindow, "%s", qPrintable(line));
    appendLog(line);
}

void WidgetTriax::closeEvent(QCloseEvent *event)
{
    QDockWidget::closeEvent(event);
    // Leave the line to the instrument free for whoever opens it next.
    if (event->isAccepted())
        controller->closePort();
}
