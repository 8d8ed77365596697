#include "startup.h"

#include "monopanelversion.h"

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
    // The diagnostics are debug lines; some distributions switch debug output off by
    // default. QT_LOGGING_RULES still overrides this.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=true"));
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
    qWarning("serial line: MONOPANEL_ANSWER_GAP \"%s\" is not a number of milliseconds; every "
             "answer gets its whole waiting time",
        text.constData());
    return 0;
}

} // namespace Startup
