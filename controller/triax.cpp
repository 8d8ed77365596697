#include "triax.h"

#include "serialconnection.h"
#include "xmlrpcserver.h"

#include <QCloseEvent>
#include <QDoubleValidator>
#include <QIntValidator>
#include <QLocale>

WidgetTriax::WidgetTriax(QDockWidget *parent, const QString &device, int port)
    : QDockWidget(parent)
{
    setupUi(this);

    connect(pbOpen, &QPushButton::clicked, this, &WidgetTriax::openPort);
    connect(pbClose, &QPushButton::clicked, this, &WidgetTriax::closePort);
    connect(pbQuit, &QPushButton::clicked, this, &WidgetTriax::quit);
    connect(leCommandLI, &QLineEdit::returnPressed, this, &WidgetTriax::sendCLICommand);

    // 19200 baud, 8 data bits, one stop bit, no parity, no flow control,
    // polling. The port stays closed until the operator connects.
    serial = std::make_unique<SerialConnection>(device, 19200, 8, 0, 0, 0, 0);

    connect(this, &WidgetTriax::checkQueue, this, &WidgetTriax::readCommandQueue);
    connect(serial.get(), &SerialConnection::endReception, this, &WidgetTriax::messageReceived);
    connect(serial.get(), &SerialConnection::portLost, this, &WidgetTriax::portLost);
    connect(leWavelength, &QLineEdit::returnPressed, this, &WidgetTriax::newWavelength);
    connect(leMoveRel, &QLineEdit::returnPressed, this, &WidgetTriax::moveRelative);
    connect(leInSlit, &QLineEdit::returnPressed, this, &WidgetTriax::newInSlit);
    connect(leOutSlit, &QLineEdit::returnPressed, this, &WidgetTriax::newOutSlit);
    connect(cbGrating, &QComboBox::currentIndexChanged, this, &WidgetTriax::changeGrating);

    installValidators();

    commandLetters = { u'B', u'C', u'F', u'G', u'H', u'g', u'h', u'i', u'j', u'k', u'W', u'X', u'a',
        u'b', u'c', u'd', u'e', u'f', u'Z' };

    answer.clear();
    commandQueue.clear();

    remoteApi = new ServerXmlRPC(this, port);

    // Show the port actually listened on: with 0 the system chooses one, and a
    // port above 65535 wraps. Clients must be told which, and on which address
    // when it is not every interface.
    const int listened = remoteApi->serverPort();
    const QString portText = QStringLiteral("%1").arg(listened ? listened : port);
    const QHostAddress address = remoteApi->serverAddress();
    if (address.isNull() || address == QHostAddress::AnyIPv4)
        lbPortValue->setText(portText);
    else if (address.protocol() == QAbstractSocket::IPv6Protocol)
        lbPortValue->setText(QStringLiteral("[%1]:%2").arg(address.toString(), portText));
    else
        lbPortValue->setText(QStringLiteral("%1:%2").arg(address.toString(), portText));
    lbDeviceValue->setText(device);
}

WidgetTriax::~WidgetTriax() = default;

void WidgetTriax::installValidators()
{
    // Field texts go to the instrument as typed, so every field reads numbers
    // the way the instrument does: a point for decimals, no group separators,
    // no exponent, whatever the operator's locale.
    QLocale instrumentLocale = QLocale::c();
    instrumentLocale.setNumberOptions(QLocale::RejectGroupSeparator);

    auto *moveValidator = new QIntValidator(-10000, 10000, this);
    moveValidator->setLocale(instrumentLocale);
    leMoveRel->setValidator(moveValidator);

    auto *wavelengthValidator = new QDoubleValidator(250.0, 1300.0, 2, this);
    wavelengthValidator->setLocale(instrumentLocale);
    wavelengthValidator->setNotation(QDoubleValidator::StandardNotation);
    leWavelength->setValidator(wavelengthValidator);

    auto *slitValidator = new QIntValidator(0, 1400, this);
    slitValidator->setLocale(instrumentLocale);
    leInSlit->setValidator(slitValidator);
    leOutSlit->setValidator(slitValidator);
}

void WidgetTriax::closeEvent(QCloseEvent *event)
{
    QDockWidget::closeEvent(event);
    // Leave the line to the instrument free for whoever opens it next.
    if (event->isAccepted())
        serial->closePort();
}
