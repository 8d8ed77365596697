#ifndef PANELREQUEST_H
#define PANELREQUEST_H

#include <QString>

// One request to the panel on behalf of a control-system client.
struct PanelRequest
{
    enum class Kind { Wavelength, MoveRelative, EntranceSlit, ExitSlit, Grating, Connect, Close };

    Kind kind = Kind::Connect;
    // The wavelength in nm, the steps or the slit position, or the grating.
    double value = 0.0;

    // Whether the instrument moves: such a request makes the device MOVING.
    bool isMotion() const { return kind != Kind::Connect && kind != Kind::Close; }
    // As a control-system user would name it, for state texts and refusals.
    QString describe() const;
};

#endif // PANELREQUEST_H
