#ifndef KELPSYSTEMMETHODS_H
#define KELPSYSTEMMETHODS_H

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

class KelpMethodTable;

// The methods a server answers besides the ones registered in its table, under the names
// clients of XML-RPC servers look for: system.listMethods, system.methodHelp,
// system.methodSignature and system.multicall. A fault inside a multicall is that call's
// answer, not the whole response's.
class KelpSystemMethods
{
public:
    // The result of method called with args, or a KelpFault: a system method, or else a
    // method of table.
    static QVariant answer(
        const KelpMethodTable &table, const QString &method, const QVariantList &args);

private:
    static QVariant call(
        const KelpMethodTable &table, const QString &method, const QVariantList &args);
    static QVariant multicall(const KelpMethodTable &table, const QVariantList &calls);
    static QVariant oneOfMany(const KelpMethodTable &table, const QVariant &call);
};

#endif // KELPSYSTEMMETHODS_H
