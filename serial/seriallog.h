#ifndef SERIALLOG_H
#define SERIALLOG_H

#include <QLoggingCategory>

// The serial link's lines: every exchange traced in verbose mode, and the line's settings.
Q_DECLARE_LOGGING_CATEGORY(lcSerial)

#endif
