#ifndef KELPMETHODTABLE_H
#define KELPMETHODTABLE_H

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>

// The methods registered with a server: each name served by a slot of some object. The system
// methods (KelpSystemMethods) are answered beside them.
//
// A registered slot is called when the call's arguments have exactly its parameter types
// (an int does not fill a double parameter); slots of any access can serve, with at most ten
// parameters. Its return value is the result; a slot without one answers with an empty
// string, since every client expects one value, and a slot that returns a variant holding a
// KelpFault answers with that fault. A served object that has been destroyed serves nothing
// any more.
class KelpMethodTable
{
public:
    // Serves method (case-sensitive) with the slot of object called slot (the bare name,
    // such as "getWavelength"); a name registered again is replaced. help is what
    // system.methodHelp tells of it.
    void add(const QString &method, QObject *object, const char *slot, const QString &help);
    void remove(const QString &method);

    // The result of method called with args, or a KelpFault.
    QVariant call(const QString &method, const QVariantList &args) const;

    // Every method registered whose object is still there, in no order.
    QStringList names() const;
    bool contains(const QString &method) const;
    QString help(const QString &method) const;
    // One list of XML-RPC type names per slot of that name, the result's type first; empty
    // when a type has no XML-RPC name.
    QVariantList signatures(const QString &method) const;

private:
    struct Method
    {
        QPointer<QObject> object;
        QByteArray slot;
        QString help;
    };

    // Null when method is not registered or its object is gone.
    const Method *find(const QString &method) const;

    QHash<QString, Method> methods;
};

#endif // KELPMETHODTABLE_H
