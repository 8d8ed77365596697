#ifndef KELPLOG_H
#define KELPLOG_H

#include <QLoggingCategory>

// The library's lines: refused clients and requests, requests that are not a call, values that
// cannot be read or written.
Q_DECLARE_LOGGING_CATEGORY(lcHttp)

#endif // KELPLOG_H
