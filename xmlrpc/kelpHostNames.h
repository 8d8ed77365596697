#ifndef KELPHOSTNAMES_H
#define KELPHOSTNAMES_H

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

// The names under which a client may address this machine in a request's Host: an IP
// address, "localhost", the machine's host name, short or fully qualified, and the names an
// operator adds. A web page of another site that reaches the machine under a name of its own
// (DNS rebinding) is told apart by that name.
//
// The fully qualified name is the short one in the resolver's local domain. Nothing is looked
// up in DNS: a request must never wait for a name server, and the names a name server gives
// this machine's addresses are not always the ones its users type. A name of another kind is
// listed by the operator (setAllowed), whom the refusal tells so.
class KelpHostNames
{
public:
    KelpHostNames();

    void setAllowed(const QStringList &names);
    // Whether the Host field's value names this machine; its port does not matter.
    bool admits(QByteArrayView host) const;

    // Whether an Origin field names the server the request was sent to, as its Host field
    // gives it: scheme http, the same host and the same port (80 where none is given).
    static bool isSameOrigin(QByteArrayView origin, QByteArrayView host);
    // The Host field's value without its port.
    static QByteArray nameOf(QByteArrayView host);

private:
    QStringList names;
    QStringList allowed;
};

#endif // KELPHOSTNAMES_H
