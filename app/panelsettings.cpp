#include "panelsettings.h"

#include "commandline.h"
#include "triaxcontroller.h"

namespace {

const QString deviceKey = QStringLiteral("serial/device");
const QString geometryKey = QStringLiteral("window/geometry");

} // namespace

PanelSettings::PanelSettings(QObject *parent)
    : QObject(parent)
{ }

PanelSettings::PanelSettings(const QString &fileName, QObject *parent)
    : QObject(parent)
    , settings(fileName, QSettings::IniFormat)
{ }

PanelSettings::~PanelSettings() = default;

QString PanelSettings::device(const CommandLine &commandLine) const
{
    if (commandLine.deviceGiven)
        return commandLine.device;
    const QString remembered = lastDevice();
    return remembered.isEmpty() ? commandLine.device : remembered;
}

QString PanelSettings::lastDevice() const
{
    return settings.value(deviceKey).toString();
}

void PanelSettings::setLastDevice(const QString &device)
{
    // A pseudo-terminal's name is handed out afresh each time one is made:
    // remembered, it would name nothing or another program's terminal on the
    // next start (a simulated instrument with --link keeps a lasting name).
    if (device.startsWith(QLatin1String("/dev/pts/")) || device == lastDevice())
        return;
    settings.setValue(deviceKey, device);
    // Written now, so that a panel that is killed still remembers it.
    settings.sync();
}

void PanelSettings::rememberDeviceOf(TriaxController *controller)
{
    // Any serial line opens; only an answer says the instrument is on it.
    connect(controller, &TriaxController::stateChanged, this,
        [this, controller](TriaxController::State state) {
            if (state == TriaxController::State::ReadingBack)
                setLastDevice(controller->devicePath());
        });
}

QByteArray PanelSettings::windowGeometry() const
{
    return settings.value(geometryKey).toByteArray();
}

void PanelSettings::setWindowGeometry(const QByteArray &geometry)
{
    settings.setValue(geometryKey, geometry);
    settings.sync();
}
