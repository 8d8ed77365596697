// The floor for the remote-call benchmarks: a bare QTcpServer that answers every POST with
// the same status response, without parsing anything but the end of the call. No XML-RPC
// server on Qt's event loop can be faster. A connection is kept for the next call unless the
// call asked to close (the one HTTP header it looks at), so that it is the floor for kept
// connections too.
//
//   floorserver PORT

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <memory>

namespace {

const QByteArray Document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<methodResponse>\n"
                            " <params>\n  <param>\n   <value>\n    <int>0</int>\n   </value>\n"
                            "  </param>\n </params>\n</methodResponse>\n";
const QByteArray Head = "HTTP/1.1 200 Ok\r\nServer: floor\r\nContent-Type: text/xml\r\n"
                        "Content-Length: "
    + QByteArray::number(Document.size()) + "\r\n";
const QByteArray KeptResponse = Head + "\r\n" + Document;
const QByteArray ClosingResponse = Head + "Connection: close\r\n\r\n" + Document;
const QByteArray CallEnd = "</methodCall>";

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
            auto received = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, received] {
                received->append(socket->readAll());
                // A call is complete when its document has ended; calls on a kept connection
                // are answered in order.
                for (qsizetype end = received->indexOf(CallEnd); end >= 0;
                     end = received->indexOf(CallEnd)) {
                    const bool closing
                        = received->left(end).toLower().contains("connection: close");
                    received->remove(0, end + CallEnd.size());
                    if (closing) {
                        socket->write(ClosingResponse);
                        socket->disconnectFromHost();
                        return;
                    }
                    socket->write(KeptResponse);
                }
            });
        }
    });
    return app.exec();
}
