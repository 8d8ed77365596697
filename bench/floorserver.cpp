// The floor for the remote-call benchmarks: a bare QTcpServer that answers every POST with
// the same status response, without parsing anything but the end of the call. No XML-RPC
// server on Qt's event loop can be faster.
//
//   floorserver PORT

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

namespace {

const QByteArray Response = "HTTP/1.1 200 Ok\r\nServer: floor\r\nContent-Type: text/xml\r\n"
                            "Connection: close\r\n\r\n"
                            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<methodResponse>\n"
                            " <params>\n  <param>\n   <value>\n    <int>0</int>\n   </value>\n"
                            "  </param>\n </params>\n</methodResponse>\n";

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const quint16 port = argc > 1 ? quint16(QByteArray(argv[1]).toUInt()) : 0;
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, port)) {
        std::fprintf(stderr, "floorserver: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                // The call is complete when its document has ended.
                if (socket->readAll().trimmed().endsWith("</methodCall>")) {
                    socket->write(Response);
                    socket->disconnectFromHost();
                }
            });
        }
    });
    return app.exec();
}
