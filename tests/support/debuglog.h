#ifndef DEBUGLOG_H
#define DEBUGLOG_H

#include <QStringList>
#include <QtGlobal>

// Collects the debug lines written while it exists, instead of printing
// them, so that a test can compare them with the exact texts expected.
class DebugLog
{
public:
    DebugLog();
    ~DebugLog();
    DebugLog(const DebugLog &) = delete;
    DebugLog &operator=(const DebugLog &) = delete;

    QStringList lines() const { return collected; }

private:
    QStringList collected;
    QtMessageHandler previous;
};

#endif
