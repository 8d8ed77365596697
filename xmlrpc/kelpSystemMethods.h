#ifndef KELPSYSTEMMETHODS_H
#define KELPSYSTEMMETHODS_H

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

class KelpXmlRpcServer;

// The methods every server answers besides the ones registered with it, under the names
// clients of XML-RPC servers look for: system.listMethods, system.methodHelp,
// system.methodSignature and system.multicall.
class KelpSystemMethods
{
public:
    explicit KelpSystemMethods(const KelpXmlRpcServer *server);

    static QStringList names();
    static bool serves(const QString &method);
    static QString help(const QString &method);
    static QVariantList signatures(const QString &method);

    // The result, or a KelpFault, as for a registered method.
    QVariant call(const QString &method, const QVariantList &args) const;

private:
    QVariant multicall(const QVariantList &calls) const;
    QVariant oneOfMany(const QVariant &call) const;

    const KelpXmlRpcServer *server;
};

#endif // KELPSYSTEMMETHODS_H
