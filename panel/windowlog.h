#ifndef WINDOWLOG_H
#define WINDOWLOG_H

#include <QLoggingCategory>

// The window's own lines, such as a log that cannot be saved.
Q_DECLARE_LOGGING_CATEGORY(lcWindow)

#endif
