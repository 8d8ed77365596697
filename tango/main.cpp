#include <QCoreApplication>

#include <tango/tango.h>

#include <iostream>

int main(int argc, char *argv[])
{
    // Qt's event loop runs on the panel mirror's own thread; the main thread is Tango's.
    QCoreApplication application(argc, argv);
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
