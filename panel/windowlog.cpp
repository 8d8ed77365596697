#include "windowlog.h"

// On unless QT_LOGGING_RULES turns it off.
Q_LOGGING_CATEGORY(lcWindow, "monopanel.window", QtDebugMsg)
