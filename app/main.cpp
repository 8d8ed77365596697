#include "commandline.h"
#include "listeningaddress.h"
#include "panelsettings.h"
#include "remoteaccess.h"
#include "scpiserver.h"
#include "startup.h"
#include "triaxcontroller.h"
#include "widgettriax.h"
#include "xmlrpcserver.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    if (Startup::printVersionIfAsked(argc, argv, "monopanel"))
        return 0;
    Startup::chooseEventLoop();
    QApplication app(argc, argv);
    // The settings file is ~/.config/monopanel/monopanel.conf.
    QApplication::setOrganizationName(QStringLiteral("monopanel"));
    QApplication::setApplicationName(QStringLiteral("monopanel"));
    Startup::showDiagnostics();

    const CommandLine commandLine = CommandLine::fromArguments(QApplication::arguments());
    PanelSettings settings;
    TriaxController controller(settings.device(commandLine));
    controller.setVerbose(Startup::verboseFromEnvironment());
    controller.setAnswerGap(Startup::answerGapFromEnvironment());
    settings.rememberDeviceOf(&controller);
    // Read once: a value that does not read is reported once, for both ports.
    const RemoteAccess access = RemoteAccess::fromEnvironment();
    ServerXmlRPC remoteApi(&controller, commandLine.port, access);
    ScpiServer scpi(&controller, ScpiServer::portFromEnvironment(), access);
    WidgetTriax triax(&controller, ListeningAddress::describe(remoteApi.listening()),
        ListeningAddress::pageUrl(remoteApi.listening()),
        ListeningAddress::describe(scpi.listening()));
    triax.restoreGeometry(settings.windowGeometry());
    triax.setVisible(true);
    const int status = app.exec();
    settings.setWindowGeometry(triax.saveGeometry());
    return status;
}
