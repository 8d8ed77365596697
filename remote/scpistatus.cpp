#include "scpistatus.h"

namespace {

// The event bit that an error's class sets.
int eventOf(int code)
{
    if (code <= -400)
        return ScpiStatus::QueryError;
    if (code <= -300)
        return ScpiStatus::DeviceDependentError;
    if (code <= -200)
        return ScpiStatus::ExecutionError;
    if (code <= -100)
        return ScpiStatus::CommandError;
    return 0;
}

// A queue entry: the code, and the text as a string of the standard's, its quotes doubled.
QString entry(const ScpiErrors::Error &error, const QString &words)
{
    QString text = QString::fromLatin1(error.text);
    if (!words.isEmpty())
        text += QLatin1Char(';') + words;
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QStringLiteral("%1,\"%2\"").arg(error.code).arg(text);
}

} // namespace

void ScpiStatus::push(const ScpiErrors::Error &error, const QString &words)
{
    events |= eventOf(error.code);
    if (errors.size() < MaxErrors - 1)
        errors.append(entry(error, words));
    else if (errors.size() == MaxErrors - 1)
        errors.append(entry(ScpiErrors::queueOverflow, QString()));
}

QString ScpiStatus::takeError()
{
    return errors.isEmpty() ? entry(ScpiErrors::none, QString()) : errors.takeFirst();
}

void ScpiStatus::clear()
{
    errors.clear();
    events = 0;
}

int ScpiStatus::takeEventStatus()
{
    const int status = events;
    events = 0;
    return status;
}

int ScpiStatus::statusByte() const
{
    int status = 0;
    if (!errors.isEmpty())
        status |= ErrorQueue;
    if (events & eventEnable)
        status |= EventStatusSummary;
    if (status & serviceEnable)
        status |= MasterSummary;
    return status;
}
