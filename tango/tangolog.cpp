#include "tangolog.h"

// On unless QT_LOGGING_RULES turns it off.
Q_LOGGING_CATEGORY(lcTango, "monopanel.tango", QtDebugMsg)
