#include "startup.h"

#include <QLoggingCategory>
#include <QtGlobal>

namespace Startup {

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

} // namespace Startup
