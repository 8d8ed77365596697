#ifndef FUZZFIXTURE_H
#define FUZZFIXTURE_H

#include "fuzzprobe.h"
#include "kelpXmlRpcServer.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QHostAddress>

// What the server targets run against: the application their sockets need, and a server on
// loopback serving the probe.
struct FuzzFixture
{
    FuzzFixture(int &argc, char **argv)
        : application(argc, argv)
        , server(QHostAddress::LocalHost, 0)
    {
        probe.serveOn(server);
    }

    QCoreApplication application;
    FuzzProbe probe;
    KelpXmlRpcServer server;

    // Made on the first call, from LLVMFuzzerInitialize: after the statics that Qt sets up on
    // first use, so that it goes before them at exit. The library's warnings about every
    // malformed input are dropped; the fuzzer's own output is what matters.
    static FuzzFixture *start(const char *name)
    {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        static int argc = 1;
        static QByteArray program(name);
        static char *argv[] = { program.data(), nullptr };
        static FuzzFixture instance(argc, argv);
        return &instance;
    }
};

#endif // FUZZFIXTURE_H
