#ifndef KELPSYSTEMMETHODS_H
#define KELPSYSTEMMETHODS_H

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

class KelpMethodTable;

// The methods every method table answers besides the ones registered with it, under the names
// clients of XML-RPC servers look for: system.listMethods, system.methodHelp,
// system.methodSignature and system.multicall. A fault inside a multicall is that call's
// answer, not the whole response's.
class KelpSystemMethods
{
public:
    static QStringList names();
    static bool serves(const QString &method);
    static QString help(const QString &method);
    static QVariantList signatures(const QString &method);

    // The result, or a KelpFault, as for a registered method of table.
    static QVariant call(
        const KelpMethodTable &table, const QString &method, const QVariantList &args);

private:
    static QVariant multicall(const KelpMethodTable &table, const QVariantList &calls);
    static QVariant oneOfMany(const KelpMethodTable &table, const QVariant &call);
};

#endif // KELPSYSTEMMETHODS_H
