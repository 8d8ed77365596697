#ifndef PANELLIMITS_H
#define PANELLIMITS_H

// The ranges in which the panel takes a request, as its getLimits tells them. The device's
// attributes take them as their own, so that Tango refuses a write outside them before it
// reaches the panel.
struct PanelLimits
{
    struct Range
    {
        double minimum = 0.0;
        double maximum = 0.0;
    };

    Range wavelength;
    // Either slit's.
    Range slit;
    Range grating;
};

#endif // PANELLIMITS_H
