#include "debuglog.h"

namespace {

// A message handler is a plain function, so it finds the log through this.
QStringList *currentLines = nullptr;

void collect(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg && currentLines)
        currentLines->append(text);
}

} // namespace

DebugLog::DebugLog()
    : previous(qInstallMessageHandler(collect))
{
    currentLines = &collected;
}

DebugLog::~DebugLog()
{
    qInstallMessageHandler(previous);
    currentLines = nullptr;
}
