#include "monochromatorclass.h"

#include "monochromator.h"

namespace {

const char *const classDescription
    = "A scanning monochromator driven through the remote control of its panel: wavelength, "
      "slits and grating, with the instrument's own state (ON ready, MOVING while it moves or "
      "is read back, INIT while it wakes up, OFF with the port closed, FAULT when it is silent, "
      "its port is lost or the panel cannot be reached).";

class MonochromatorAttribute : public Tango::Attr
{
public:
    using Reader = void (Monochromator::*)(Tango::Attribute &);
    using Writer = void (Monochromator::*)(Tango::WAttribute &);

    MonochromatorAttribute(const char *name, long type, Reader reader, Writer writer = nullptr)
        : Tango::Attr(name, type, writer ? Tango::READ_WRITE : Tango::READ)
        , reader(reader)
        , writer(writer)
    { }

    void read(Tango::DeviceImpl *device, Tango::Attribute &attribute) override
    {
        (static_cast<Monochromator *>(device)->*reader)(attribute);
    }

    void write(Tango::DeviceImpl *device, Tango::WAttribute &attribute) override
    {
        (static_cast<Monochromator *>(device)->*writer)(attribute);
    }

private:
    const Reader reader;
    const Writer writer;
};

class VoidCommand : public Tango::Command
{
public:
    VoidCommand(const char *name, const char *description, void (Monochromator::*action)())
        : Tango::Command(name, Tango::DEV_VOID, Tango::DEV_VOID, "none", description)
        , action(action)
    { }

    CORBA::Any *execute(Tango::DeviceImpl *device, const CORBA::Any &) override
    {
        (static_cast<Monochromator *>(device)->*action)();
        return new CORBA::Any();
    }

private:
    void (Monochromator::*const action)();
};

class MoveRelativeCommand : public Tango::Command
{
public:
    MoveRelativeCommand()
        : Tango::Command("MoveRelative", Tango::DEV_LONG, Tango::DEV_VOID,
            "Motor steps to move the grating drive by, without changing the wavelength "
            "set-point; MOVING until the instrument has been read back",
            "none")
    { }

    CORBA::Any *execute(Tango::DeviceImpl *device, const CORBA::Any &in) override
    {
        Tango::DevLong steps = 0;
        extract(in, steps);
        static_cast<Monochromator *>(device)->moveRelative(steps);
        return new CORBA::Any();
    }
};

struct Presentation
{
    const char *label;
    const char *description;
    const char *unit;
    // The unit's size in SI units, for clients that convert.
    const char *standardUnit;
    const char *format;
};

// The ranges of the written attributes are the panel's: the device sets them once the panel has
// told them.
Tango::Attr *withProperties(Tango::Attr *attribute, const Presentation &shown)
{
    Tango::UserDefaultAttrProp properties;
    properties.set_label(shown.label);
    properties.set_description(shown.description);
    properties.set_unit(shown.unit);
    properties.set_display_unit(shown.unit);
    if (*shown.standardUnit)
        properties.set_standard_unit(shown.standardUnit);
    properties.set_format(shown.format);
    attribute->set_default_properties(properties);
    return attribute;
}

} // namespace

MonochromatorClass::MonochromatorClass(std::string name)
    : Tango::DeviceClass(name)
{
    std::string property = "PanelUrl";
    std::string description = "Where the panel's remote control answers: its XML-RPC URL. A "
                              "device property overrides the class property.";
    std::string fallback = Monochromator::defaultPanelUrl;
    add_wiz_class_prop(property, description, fallback);
    add_wiz_dev_prop(property, description, fallback);
    // What database browsers show of the class.
    if (Tango::Util::_UseDb && !Tango::Util::_FileDb) {
        Tango::DbData data { Tango::DbDatum("Description"), Tango::DbDatum("ProjectTitle") };
        data[0] << classDescription;
        data[1] << "monopanel";
        get_db_class()->put_property(data);
    }
}

void MonochromatorClass::attribute_factory(std::vector<Tango::Attr *> &attributes)
{
    attributes.push_back(withProperties(
        new MonochromatorAttribute("Wavelength", Tango::DEV_DOUBLE, &Monochromator::readWavelength,
            &Monochromator::writeWavelength),
        { "Wavelength", "Wavelength the grating is set to, as read back", "nm", "1e-9", "%8.3f" }));
    attributes.push_back(withProperties(
        new MonochromatorAttribute("Position", Tango::DEV_LONG, &Monochromator::readPosition),
        { "Drive position", "Position of the grating drive, as read back", "steps", "", "%d" }));
    attributes.push_back(
        withProperties(new MonochromatorAttribute("EntranceSlit", Tango::DEV_LONG,
                           &Monochromator::readEntranceSlit, &Monochromator::writeEntranceSlit),
            { "Entrance slit", "Entrance slit position, as read back", "steps", "", "%d" }));
    attributes.push_back(
        withProperties(new MonochromatorAttribute("ExitSlit", Tango::DEV_LONG,
                           &Monochromator::readExitSlit, &Monochromator::writeExitSlit),
            { "Exit slit", "Exit slit position, as read back", "steps", "", "%d" }));
    attributes.push_back(
        withProperties(new MonochromatorAttribute("Grating", Tango::DEV_SHORT,
                           &Monochromator::readGrating, &Monochromator::writeGrating),
            { "Grating", "Grating in use: 0, 1 or 2", "", "", "%d" }));
}

void MonochromatorClass::command_factory()
{
    command_list.push_back(new VoidCommand("Connect",
        "Opens the panel's serial port and wakes the instrument (INIT, up to about 90 s when it "
        "has to start); in FAULT, closes the port first",
        &Monochromator::connectInstrument));
    command_list.push_back(
        new VoidCommand("Close", "Closes the panel's serial port (OFF); ends a move under way",
            &Monochromator::closeInstrument));
    command_list.push_back(new MoveRelativeCommand());
}

void MonochromatorClass::device_factory(const Tango::DevVarStringArray *names)
{
    for (CORBA::ULong i = 0; i < names->length(); ++i) {
        auto *device = new Monochromator(this, (*names)[i].in(), classDescription);
        device_list.push_back(device);
        // Without a database, or with a file database, clients find the device by its name.
        if (Tango::Util::_UseDb && !Tango::Util::_FileDb)
            export_device(device);
        else
            export_device(device, device->get_name().c_str());
    }
}

// The one class this server serves; Tango calls this while the server starts.
void Tango::DServer::class_factory()
{
    add_class(new MonochromatorClass("Monochromator"));
}
