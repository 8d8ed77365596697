#include "widgettriax.h"

#include "ui_triax.h"

#include <QCloseEvent>
#include <QDoubleValidator>
#include <QIntValidator>
#include <QLocale>
#include <QSignalBlocker>

namespace {

// A request from another face shows in its field; the operator's own entry
// is left as typed.
void showRequest(QLineEdit *field, const QString &text)
{
    if (field->text() != text)
        field->setText(text);
}

} // namespace

WidgetTriax::WidgetTriax(TriaxController *controller, const QString &remoteControl, QWidget *parent)
    : QDockWidget(parent)
    , controller(controller)
    , ui(std::make_unique<Ui::Triax>())
{
    ui->setupUi(this);
    ui->lbPortValue->setText(remoteControl);
    ui->lbDeviceValue->setText(controller->devicePath());
    ui->ckbVerbose->setChecked(controller->isVerbose());
    ui->leMotPos->setText(controller->positionText());
    ui->leWavelength->setText(controller->wavelengthText());
    ui->leInSlit->setText(controller->inSlitText());
    ui->leOutSlit->setText(controller->outSlitText());
    showGrating(controller->grating());
    showState(controller->state());

    installValidators();
    connectForm();
    connectController();
}

WidgetTriax::~WidgetTriax() = default;

void WidgetTriax::connectForm()
{
    connect(ui->pbOpen, &QPushButton::clicked, controller, &TriaxController::openPort);
    connect(ui->pbClose, &QPushButton::clicked, controller, &TriaxController::closePort);
    connect(ui->pbQuit, &QPushButton::clicked, this, &WidgetTriax::close);
    connect(ui->ckbVerbose, &QCheckBox::toggled, controller, &TriaxController::setVerbose);
    connect(ui->leCommandLI, &QLineEdit::returnPressed, this,
        [this] { controller->sendCLICommand(ui->leCommandLI->text()); });
    connect(ui->leWavelength, &QLineEdit::returnPressed, this,
        [this] { controller->newWavelength(ui->leWavelength->text()); });
    connect(ui->leMoveRel, &QLineEdit::returnPressed, this,
        [this] { controller->moveRelative(ui->leMoveRel->text()); });
    connect(ui->leInSlit, &QLineEdit::returnPressed, this,
        [this] { controller->newInSlit(ui->leInSlit->text()); });
    connect(ui->leOutSlit, &QLineEdit::returnPressed, this,
        [this] { controller->newOutSlit(ui->leOutSlit->text()); });
    connect(ui->cbGrating, &QComboBox::currentIndexChanged, controller,
        &TriaxController::changeGrating);
}

void WidgetTriax::connectController()
{
    connect(controller, &TriaxController::stateChanged, this, &WidgetTriax::showState);
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

    auto *moveValidator = new QIntValidator(-10000, 10000, this);
    moveValidator->setLocale(instrumentLocale);
    ui->leMoveRel->setValidator(moveValidator);

    auto *wavelengthValidator = new QDoubleValidator(250.0, 1300.0, 2, this);
    wavelengthValidator->setLocale(instrumentLocale);
    wavelengthValidator->setNotation(QDoubleValidator::StandardNotation);
    ui->leWavelength->setValidator(wavelengthValidator);

    auto *slitValidator = new QIntValidator(0, 1400, this);
    slitValidator->setLocale(instrumentLocale);
    ui->leInSlit->setValidator(slitValidator);
    ui->leOutSlit->setValidator(slitValidator);
}

// Each state has its look: idle while the port is closed or the instrument
// wakes up, open to every request while it is ready, locked while the motor
// runs, and with only close left when the instrument has gone silent.
void WidgetTriax::showState(TriaxController::State state)
{
    using State = TriaxController::State;
    displayStatus(controller->statusText());
    switch (state) {
    case State::Closed:
    case State::WakingUp:
    case State::PortLost:
    case State::OpenFailed:
        enableGui(false);
        break;
    case State::ReadingBack:
    case State::Ready:
    case State::Moving:
        enableGui(true);
        break;
    case State::Busy:
        enableGui(false);
        ui->pbQuit->setEnabled(false);
        ui->pbOpen->setEnabled(false);
        break;
    case State::NoAnswer:
        enableGui(false);
        ui->pbOpen->setEnabled(false);
        ui->pbClose->setEnabled(true);
        break;
    }
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

void WidgetTriax::closeEvent(QCloseEvent *event)
{
    QDockWidget::closeEvent(event);
    // Leave the line to the instrument free for whoever opens it next.
    if (event->isAccepted())
        controller->closePort();
}
