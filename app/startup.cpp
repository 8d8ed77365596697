#include "startup.h"

#include "monopanelversion.h"
#include "seriallog.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QtGlobal>

#include <cstdio>
#include <cstring>

namespace Startup {

bool printVersionIfAsked(int argc, char *argv[], const char *program)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", program, MONOPANEL_VERSION);
            return true;
        }
    }
    return false;
}

void chooseEventLoop()
{
    // Qt's own event loop serves remote clients a tenth to a quarter faster than the glib
    // one that Debian's Qt picks by default (docs/performance.md). Setting QT_NO_GLIB, even
    // empty, decides instead.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
}

void showDiagnostics()
{
    // The diagnostics are debug lines of our categories (monopanel.*); some distributions
    // switch debug output off by default, and Qt's own is noise to an operator.
    // QT_LOGGING_RULES still overrides this, and QT_MESSAGE_PATTERN the bare lines, which
    // the journal has always received without the category's name.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\nmonopanel.*.debug=true"));
    if (!qEnvironmentVariableIsSet("QT_MESSAGE_PATTERN"))
        qSetMessagePattern(QStringLiteral("%{message}"));
}

bool verboseFromEnvironment()
{
    return qEnvironmentVariableIntValue("MONOPANEL_VERBOSE") == 1;
}

int answerGapFromEnvironment()
{
    const QByteArray text = qgetenv("MONOPANEL_ANSWER_GAP").trimmed();
    if (text.isEmpty())
        return 0;
    bool ok = false;
    const int gap = text.toInt(&ok);
    if (ok && gap >= 0)
        return gap;
    qCWarning(lcSerial,
        "serial line: MONOPANEL_ANSWER_GAP \"%s\" is not a number of milliseconds; every "
        "answer gets its whole waiting time",
        text.constData());
    return 0;
}

} // namespace Startup
