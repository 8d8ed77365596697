#ifndef MONOCHROMATORCLASS_H
#define MONOCHROMATORCLASS_H

#include <tango/tango.h>

#include <string>
#include <vector>

// The Tango class Monochromator: its attributes, its commands and its devices.
class MonochromatorClass : public Tango::DeviceClass
{
public:
    explicit MonochromatorClass(std::string name);

protected:
    void attribute_factory(std::vector<Tango::Attr *> &attributes) override;
    void command_factory() override;
    void device_factory(const Tango::DevVarStringArray *names) override;
};

#endif // MONOCHROMATORCLASS_H
