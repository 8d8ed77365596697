#include "scpilog.h"

// On unless QT_LOGGING_RULES turns it off.
Q_LOGGING_CATEGORY(lcScpi, "monopanel.scpi", QtDebugMsg)
