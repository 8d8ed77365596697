#ifndef PANELVERDICT_H
#define PANELVERDICT_H

#include "panelsnapshot.h"

#include <QString>

// What became of a request: taken by the panel, or not, and why in words the client reads.
struct PanelVerdict
{
    bool taken = false;
    // The panel refused a value outside its limits.
    bool outOfRange = false;
    // The device's state once the verdict was known; a refusal's reason follows from it.
    PanelSnapshot::State state = PanelSnapshot::State::Init;
    QString text;
};

#endif // PANELVERDICT_H
