#ifndef STATENAME_H
#define STATENAME_H

#include "triaxcontroller.h"

#include <QString>

// The name a program reads for the instrument's state (RemoteContract::StateName), the same
// over every network face: "ready", "busy", "no answer", ...
QString stateName(TriaxController::State state);

#endif
