#include "monopanelversion.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <tango/tango.h>

#include <cstring>
#include <iostream>

int main(int argc, char *argv[])
{
    // Before Tango reads the arguments: it knows no --version.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << "monopanel-tango " MONOPANEL_VERSION << std::endl;
            return 0;
        }
    }
    // Qt's event loop runs on the panel mirror's own thread; the main thread is Tango's.
    QCoreApplication application(argc, argv);
    // The device's lines are debug lines, which some distributions switch off by default;
    // QT_LOGGING_RULES still overrides this.
    QLoggingCategory::setFilterRules(QStringLiteral("monopanel.*.debug=true"));
    try {
        Tango::Util *util = Tango::Util::init(argc, argv);
        util->server_init(false);
        std::cout << "Ready to accept request" << std::endl;
        util->server_run();
        util->server_cleanup();
    } catch (const Tango::DevFailed &failure) {
        Tango::Except::print_exception(failure);
        return 1;
    } catch (const CORBA::Exception &failure) {
        Tango::Except::print_exception(failure);
        return 1;
    }
    return 0;
}
