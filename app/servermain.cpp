#include "commandline.h"
#include "remoteaccess.h"
#include "scpiserver.h"
#include "startup.h"
#include "stopsignals.h"
#include "triaxcontroller.h"
#include "xmlrpcserver.h"

#include <QCoreApplication>

// The instrument's remote-control server without a window, for instrument PCs
// and the service: the desktop program's command line, environment, remote
// methods and diagnostics.
int main(int argc, char *argv[])
{
    if (Startup::printVersionIfAsked(argc, argv, "monopanel-server"))
        return 0;
    Startup::chooseEventLoop();
    QCoreApplication app(argc, argv);
    Startup::showDiagnostics();
    StopSignals stopSignals;

    const CommandLine commandLine = CommandLine::fromArguments(QCoreApplication::arguments());
    TriaxController controller(commandLine.device);
    controller.setVerbose(Startup::verboseFromEnvironment());
    controller.setAnswerGap(Startup::answerGapFromEnvironment());
    // Read once: a value that does not read is reported once, for both ports.
    const RemoteAccess access = RemoteAccess::fromEnvironment();
    ServerXmlRPC remoteApi(&controller, commandLine.port, access);
    ScpiServer scpi(&controller, ScpiServer::portFromEnvironment(), access);

    QObject::connect(&stopSignals, &StopSignals::received, &app, [&controller] {
        controller.closePort({ QStringLiteral("a stop signal"), QString() });
        QCoreApplication::quit();
    });
    return app.exec();
}
