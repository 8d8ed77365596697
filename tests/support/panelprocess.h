#ifndef PANELPROCESS_H
#define PANELPROCESS_H

#include <QByteArray>
#include <QHostAddress>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

// The real program, offscreen and without an instrument, on a free loopback port, for tests
// that meet it as network clients do. It is killed with the test.
class PanelProcess
{
public:
    PanelProcess();
    ~PanelProcess();
    PanelProcess(const PanelProcess &) = delete;
    PanelProcess &operator=(const PanelProcess &) = delete;

    // Starts the program, ending the one started before, with environment added to the
    // test's own, and waits until it answers a status call from and to address; empty when
    // it does, else why not. Its standard error is
    // passed on unless it is collected for standardError().
    QString start(const QString &program, const QProcessEnvironment &environment,
        const QHostAddress &address = QHostAddress(QHostAddress::LocalHost),
        QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels);
    void stop();

    quint16 port() const { return listenPort; }
    bool isRunning() const { return process.state() == QProcess::Running; }
    // What it has written to standard error so far, when collected.
    QByteArray standardError();
    qint64 rssKiloBytes() const;

    // Sends request to address:port on a fresh connection from source and returns what came
    // back until the server closed, or what went wrong.
    static QByteArray exchange(const QHostAddress &address, quint16 port, const QByteArray &request,
        int timeout, const QHostAddress &source = QHostAddress());
    static QByteArray post(const QByteArray &body);
    // A loopback port that nothing listens on now, or 0.
    static quint16 freePort();
    static const QByteArray statusCall;
    // The answer to statusCall from a program whose instrument is not ready.
    static bool isStatusAnswer(const QByteArray &answer);

private:
    QProcess process;
    quint16 listenPort = 0;
    QByteArray collected;
};

#endif
