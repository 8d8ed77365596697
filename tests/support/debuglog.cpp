#include "debuglog.h"

namespace {

// A message handler is a plain function, so it finds the log through this.
DebugLog *currentLog = nullptr;

void collect(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (currentLog)
        currentLog->add(type, text);
}

} // namespace

DebugLog::DebugLog()
    : previous(qInstallMessageHandler(collect))
{
    currentLog = this;
}

DebugLog::~DebugLog()
{
    qInstallMessageHandler(previous);
    currentLog = nullptr;
}

void DebugLog::add(QtMsgType type, const QString &text)
{
    if (type == QtDebugMsg)
        collected.append(text);
    else if (type == QtWarningMsg)
        warned.append(text);
}
