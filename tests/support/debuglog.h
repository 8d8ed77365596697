#ifndef DEBUGLOG_H
#define DEBUGLOG_H

#include <QStringList>
#include <QtGlobal>

// Collects the debug and warning lines written while it exists, instead of
// printing them, so that a test can compare them with the exact texts
// expected.
class DebugLog
{
public:
    DebugLog();
    ~DebugLog();
    DebugLog(const DebugLog &) = delete;
    DebugLog &operator=(const DebugLog &) = delete;

    QStringList lines() const { return collected; }
    QStringList warnings() const { return warned; }
    void add(QtMsgType type, const QString &text);

private:
    QStringList collected;
    QStringList warned;
    QtMessageHandler previous;
};

#endif
