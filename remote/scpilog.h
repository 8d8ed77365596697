#ifndef SCPILOG_H
#define SCPILOG_H

#include <QLoggingCategory>

// The SCPI port's lines: refused clients and connections, its settings.
Q_DECLARE_LOGGING_CATEGORY(lcScpi)

#endif
