#include "kelpLog.h"

// On unless QT_LOGGING_RULES turns it off.
Q_LOGGING_CATEGORY(lcHttp, "monopanel.http", QtDebugMsg)
