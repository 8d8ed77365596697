#include "commandline.h"
#include "triax.h"

#include <QApplication>
#include <QLoggingCategory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The panel's diagnostics are debug lines; some distributions switch debug
    // output off by default. QT_LOGGING_RULES still overrides this.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=true"));

    const CommandLine commandLine = CommandLine::fromArguments(QApplication::arguments());
    WidgetTriax triax(nullptr, commandLine.device, commandLine.port);
    triax.setVisible(true);
    return app.exec();
}
