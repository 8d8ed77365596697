#ifndef PANELSETTINGS_H
#define PANELSETTINGS_H

#include <QByteArray>
#include <QObject>
#include <QSettings>
#include <QString>

struct CommandLine;
class TriaxController;

// What the desktop panel keeps from one start to the next, in the user's own
// configuration file: the last device the instrument answered on and the
// window's position and size. The remote-control port is not kept; it stays
// a matter of the command line and the environment.
class PanelSettings : public QObject
{
    Q_OBJECT

public:
    // The application's settings, under its organisation and application name.
    explicit PanelSettings(QObject *parent = nullptr);
    // The settings in fileName, an INI file.
    explicit PanelSettings(const QString &fileName, QObject *parent = nullptr);
    ~PanelSettings() override;

    // The device to open: the command line's when it names one, else the one
    // remembered, else the command line's default.
    QString device(const CommandLine &commandLine) const;
    QString lastDevice() const;
    void setLastDevice(const QString &device);
    // From now on remembers controller's device each time the instrument
    // answers its wake-up there.
    void rememberDeviceOf(TriaxController *controller);

    // As QWidget::saveGeometry() gives it; empty before it was first saved.
    QByteArray windowGeometry() const;
    void setWindowGeometry(const QByteArray &geometry);

private:
    QSettings settings;
};

#endif
