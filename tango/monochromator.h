#ifndef MONOCHROMATOR_H
#define MONOCHROMATOR_H

#include "panelrequest.h"
#include "panelsnapshot.h"

#include <tango/tango.h>

#include <memory>
#include <string>
#include <thread>

class PanelMirror;
class QThread;

// The Tango device for the panel's instrument. Tango's threads read the mirror's snapshot and
// hand it requests, waiting for the panel's verdict on each; the mirror does all the talking to
// the panel on a Qt thread of its own. A thread of the device's own pushes the change events.
class Monochromator : public TANGO_BASE_CLASS
{
public:
    static constexpr const char *defaultPanelUrl = "http://127.0.0.1:8086/";

    Monochromator(Tango::DeviceClass *deviceClass, const char *name, const char *description);
    ~Monochromator() override;

    void init_device() override;
    void delete_device() override;
    Tango::DevState dev_state() override;
    Tango::ConstDevString dev_status() override;

    void readWavelength(Tango::Attribute &attribute);
    void writeWavelength(Tango::WAttribute &attribute);
    void readPosition(Tango::Attribute &attribute);
    void readEntranceSlit(Tango::Attribute &attribute);
    void writeEntranceSlit(Tango::WAttribute &attribute);
    void readExitSlit(Tango::Attribute &attribute);
    void writeExitSlit(Tango::WAttribute &attribute);
    void readGrating(Tango::Attribute &attribute);
    void writeGrating(Tango::WAttribute &attribute);

    void connectInstrument();
    void closeInstrument();
    void moveRelative(Tango::DevLong steps);

private:
    std::string panelUrl();
    // Reads every value from one snapshot and hands Tango the one asked for.
    template<typename Value>
    void readInto(Tango::Attribute &attribute, Value *value);
    // Hands the written value to the mirror as a request of that kind.
    template<typename Value>
    void writeAs(Tango::WAttribute &attribute, PanelRequest::Kind kind);
    void startRequest(PanelRequest::Kind kind, double value);
    void pushChanges();
    void setPointsFromReadBack(const PanelSnapshot &snapshot);
    void setLimits(const PanelLimits &limits);

    std::unique_ptr<QThread> mirrorThread;
    PanelMirror *mirror = nullptr;
    std::thread pusher;

    // Tango takes a read value from here after the read method has returned.
    Tango::DevDouble wavelength = 0.0;
    Tango::DevLong position = 0;
    Tango::DevLong entranceSlit = 0;
    Tango::DevLong exitSlit = 0;
    Tango::DevShort grating = 0;
    // The same for the values pushed as events.
    struct
    {
        Tango::DevDouble wavelength = 0.0;
        Tango::DevLong position = 0;
        Tango::DevLong entranceSlit = 0;
        Tango::DevLong exitSlit = 0;
        Tango::DevShort grating = 0;
    } pushed;
};

#endif // MONOCHROMATOR_H
