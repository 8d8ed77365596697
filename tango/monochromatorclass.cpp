#include "monochromatorclass.h"

#include "monochromator.h"

namespace {

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
    VoidCommand(const char *name, void (Monochromator::*action)())
        : Tango::Command(name, Tango::DEV_VOID, Tango::DEV_VOID, "none", "none")
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
            "Motor steps to move the grating drive by", "none")
    { }

    CORBA::Any *execute(Tango::DeviceImpl *device, const CORBA::Any &in) override
    {
        Tango::DevLong steps = 0;
        extract(in, steps);
        static_cast<Monochromator *>(device)->moveRelative(steps);
        return new CORBA::Any();
    }
};

Tango::Attr *withProperties(Tango::Attr *attribute, const char *description, const char *unit,
    const char *minimum = nullptr, const char *maximum = nullptr)
{
    Tango::UserDefaultAttrProp properties;
    properties.set_description(description);
    properties.set_unit(unit);
    // Tango itself refuses a write outside these limits.
    if (minimum)
        properties.set_min_value(minimum);
    if (maximum)
        properties.set_max_value(maximum);
    attribute->set_default_properties(properties);
    return attribute;
}

} // namespace

MonochromatorClass::MonochromatorClass(std::string name)
    : Tango::DeviceClass(name)
{ }

void MonochromatorClass::attribute_factory(std::vector<Tango::Attr *> &attributes)
{
    attributes.push_back(
        withProperties(new MonochromatorAttribute("Wavelength", Tango::DEV_DOUBLE,
                           &Monochromator::readWavelength, &Monochromator::writeWavelength),
            "Wavelength the grating is set to, as read back", "nm", "250", "1300"));
    attributes.push_back(withProperties(
        new MonochromatorAttribute("Position", Tango::DEV_LONG, &Monochromator::readPosition),
        "Position of the grating drive, as read back", "steps"));
    attributes.push_back(
        withProperties(new MonochromatorAttribute("EntranceSlit", Tango::DEV_LONG,
                           &Monochromator::readEntranceSlit, &Monochromator::writeEntranceSlit),
            "Entrance slit position, as read back", "steps", "0", "1400"));
    attributes.push_back(
        withProperties(new MonochromatorAttribute("ExitSlit", Tango::DEV_LONG,
                           &Monochromator::readExitSlit, &Monochromator::writeExitSlit),
            "Exit slit position, as read back", "steps", "0", "1400"));
    attributes.push_back(
        withProperties(new MonochromatorAttribute("Grating", Tango::DEV_SHORT,
                           &Monochromator::readGrating, &Monochromator::writeGrating),
            "Grating in use", "", "0", "2"));
}

void MonochromatorClass::command_factory()
{
    command_list.push_back(new VoidCommand("Connect", &Monochromator::connectInstrument));
    command_list.push_back(new VoidCommand("Close", &Monochromator::closeInstrument));
    command_list.push_back(new MoveRelativeCommand());
}

void MonochromatorClass::device_factory(const Tango::DevVarStringArray *names)
{
    for (CORBA::ULong i = 0; i < names->length(); ++i) {
        auto *device = new Monochromator(this, (*names)[i].in());
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
