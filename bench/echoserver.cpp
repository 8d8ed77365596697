// The XML-RPC library on its own, for the benchmarks: serves status() and echo(array) on
// 127.0.0.1, so that the library can be measured against other servers with the same calls.
//
//   echoserver PORT

#include "kelpXmlRpcServer.h"

#include <QCoreApplication>
#include <QVariantList>

#include <cstdio>

class EchoService : public QObject
{
    Q_OBJECT
public slots:
    int status() { return 0; }
    QVariantList echo(const QVariantList &items) { return items; }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const quint16 port = argc > 1 ? quint16(QByteArray(argv[1]).toUInt()) : 0;
    KelpXmlRpcServer server(QHostAddress::LocalHost, port);
    if (!server.isListening()) {
        std::fprintf(stderr, "echoserver: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    EchoService service;
    server.addMethod(QStringLiteral("status"), &service, "status");
    server.addMethod(QStringLiteral("echo"), &service, "echo");
    return app.exec();
}

#include "echoserver.moc"
