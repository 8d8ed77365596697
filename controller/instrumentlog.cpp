#include "instrumentlog.h"

// On unless QT_LOGGING_RULES turns it off.
Q_LOGGING_CATEGORY(lcInstrument, "monopanel.instrument", QtDebugMsg)
