#ifndef TANGOLOG_H
#define TANGOLOG_H

#include <QLoggingCategory>

// The device's lines: what became of each client's request, and each new status.
Q_DECLARE_LOGGING_CATEGORY(lcTango)

#endif
