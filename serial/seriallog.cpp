#include "seriallog.h"

// On unless QT_LOGGING_RULES turns it off.
Q_LOGGING_CATEGORY(lcSerial, "monopanel.serial", QtDebugMsg)
