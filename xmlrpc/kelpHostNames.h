#ifndef KELPHOSTNAMES_H
#define KELPHOSTNAMES_H

#include <QByteArray>
#include <QByteArrayView>
#include <QHostInfo>
#include <QObject>
#include <QStringList>

// The names under which a client may address this machine in a request's Host: an IP
// address, "localhost", the machine's host name, short or fully qualified, and the names an
// operator adds. A web page of another site that reaches the machine under a name of its own
// (DNS rebinding) is told apart by that name.
class KelpHostNames : public QObject
{
    Q_OBJECT
public:
    // Looks up the fully qualified names in the background, so that nothing waits for DNS.
    explicit KelpHostNames(QObject *parent = nullptr);

    void setAllowed(const QStringList &names);
    // Whether the Host field's value names this machine; its port does not matter.
    bool admits(QByteArrayView host) const;

    // Whether an Origin field names the server the request was sent to, as its Host field
    // gives it: scheme http, the same host and the same port (80 where none is given).
    static bool isSameOrigin(QByteArrayView origin, QByteArrayView host);
    // The Host field's value without its port.
    static QByteArray nameOf(QByteArrayView host);

private:
    void addressesFound(const QHostInfo &info);
    void nameFound(const QHostInfo &info);

    QStringList names;
    QStringList allowed;
};

#endif // KELPHOSTNAMES_H
