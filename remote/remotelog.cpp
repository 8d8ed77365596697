#include "remotelog.h"

// On unless QT_LOGGING_RULES turns it off.
Q_LOGGING_CATEGORY(lcRemote, "monopanel.remote", QtDebugMsg)
