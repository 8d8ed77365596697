#ifndef INSTRUMENTLOG_H
#define INSTRUMENTLOG_H

#include <QLoggingCategory>

// The instrument dialogue's lines: answers not understood, commands unanswered, and the
// instrument's events.
Q_DECLARE_LOGGING_CATEGORY(lcInstrument)

#endif
