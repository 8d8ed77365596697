#include "commandline.h"
#include "triax.h"

#include <QApplication>
#include <QLoggingCategory>

int main(int argc, char *argv[])
{
    // Qt's own event loop serves remote clients a tenth to a quarter faster than the glib
    // one that Debian's Qt picks by default (docs/performance.md). Setting QT_NO_GLIB, even
    // empty, decides instead.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    // The panel's diagnostics are debug lines; some distributions switch debug
    // output off by default. QT_LOGGING_RULES still overrides this.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=true"));

    const CommandLine commandLine = CommandLine::fromArguments(QApplication::arguments());
    WidgetTriax triax(nullptr, commandLine.device, commandLine.port);
    triax.setVisible(true);
    return app.exec();
}
