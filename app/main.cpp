#include "commandline.h"
#include "startup.h"
#include "triaxcontroller.h"
#include "widgettriax.h"
#include "xmlrpcserver.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    Startup::chooseEventLoop();
    QApplication app(argc, argv);
    Startup::showDiagnostics();

    const CommandLine commandLine = CommandLine::fromArguments(QApplication::arguments());
    TriaxController controller(commandLine.device);
    controller.setVerbose(Startup::verboseFromEnvironment());
    ServerXmlRPC remoteApi(&controller, commandLine.port);
    WidgetTriax triax(&controller, remoteApi.listeningOn());
    QObject::connect(&remoteApi, &ServerXmlRPC::warningLogged, &triax, &WidgetTriax::appendLog);
    triax.setVisible(true);
    return app.exec();
}
