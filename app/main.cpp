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
    controller.setAnswerGap(Startup::answerGapFromEnvironment());
    ServerXmlRPC remoteApi(&controller, commandLine.port);
    WidgetTriax triax(&controller, remoteApi.listeningOn());
    triax.setVisible(true);
    return app.exec();
}
