#ifndef REMOTELOG_H
#define REMOTELOG_H

#include <QLoggingCategory>

// The remote methods' lines: their settings, and setGrating's line.
Q_DECLARE_LOGGING_CATEGORY(lcRemote)

#endif
