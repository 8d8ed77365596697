#include "kelpSystemMethods.h"

#include "kelpCodec.h"
#include "kelpFault.h"
#include "kelpMethodTable.h"

#include <iterator>

namespace {

struct SystemMethod
{
    enum Which { List, Help, Signature, Multicall };
    Which which;
    const char *name;
    // The result's type first, then the parameters' types.
    QMetaType::Type types[2];
    const char *help;
};

const SystemMethod systemMethods[] = {
    { SystemMethod::List, "system.listMethods", { QMetaType::QVariantList, QMetaType::UnknownType },
        "The names of the methods this server answers." },
    { SystemMethod::Help, "system.methodHelp", { QMetaType::QString, QMetaType::QString },
        "What the method of that name does." },
    { SystemMethod::Signature, "system.methodSignature",
        { QMetaType::QVariantList, QMetaType::QString },
        "The signatures of the method of that name: each a list of type names, the result's "
        "first." },
    { SystemMethod::Multicall, "system.multicall",
        { QMetaType::QVariantList, QMetaType::QVariantList },
        "Calls each of a list of {methodName, params} structs in turn; answers a list holding, "
        "for each, a one-element list with its result or its fault struct." },
};

const SystemMethod *find(const QString &method)
{
    for (const SystemMethod &system : systemMethods) {
        if (method == QLatin1String(system.name))
            return &system;
    }
    return nullptr;
}

QVariant fault(const KelpFault &fault)
{
    return QVariant::fromValue(fault);
}

// Every method answered, the system methods first, then the table's, sorted.
QStringList names(const KelpMethodTable &table)
{
    QStringList list;
    for (const SystemMethod &system : systemMethods)
        list.append(QString::fromLatin1(system.name));
    for (const QString &name : table.names()) {
        if (!list.contains(name))
            list.append(name);
    }
    list.sort();
    return list;
}

QVariantList signatures(const SystemMethod &system)
{
    QVariantList types;
    for (const QMetaType::Type type : system.types) {
        if (type != QMetaType::UnknownType)
            types.append(KelpCodec::typeName(QMetaType(type)));
    }
    return { QVariant(types) };
}

} // namespace

QVariant KelpSystemMethods::answer(
    const KelpMethodTable &table, const QString &method, const QVariantList &args)
{
    return find(method) ? call(table, method, args) : table.call(method, args);
}

QVariant KelpSystemMethods::call(
    const KelpMethodTable &table, const QString &method, const QVariantList &args)
{
    const SystemMethod *system = find(method);
    const int wanted = system->types[1] == QMetaType::UnknownType ? 0 : 1;
    if (args.size() != wanted || (wanted && args.constFirst().typeId() != int(system->types[1])))
        return fault(KelpFault::invalidParameters());
    if (system->which == SystemMethod::List) {
        QVariantList listed;
        for (const QString &name : names(table))
            listed.append(name);
        return listed;
    }
    if (system->which == SystemMethod::Multicall)
        return multicall(table, args.constFirst().toList());
    const QString name = args.constFirst().toString();
    const SystemMethod *asked = find(name);
    if (!asked && !table.contains(name))
        return fault(KelpFault::methodNotFound());
    if (system->which == SystemMethod::Help)
        return asked ? QString::fromLatin1(asked->help) : table.help(name);
    const QVariantList found = asked ? signatures(*asked) : table.signatures(name);
    // Introspection's word for a method whose types cannot be named.
    return found.isEmpty() ? QVariant(QStringLiteral("undef")) : QVariant(found);
}

// A call that fails answers with its own fault, in its own place; the others run on.
QVariant KelpSystemMethods::multicall(const KelpMethodTable &table, const QVariantList &calls)
{
    QVariantList results;
    results.reserve(calls.size());
    for (const QVariant &call : calls) {
        const QVariant result = oneOfMany(table, call);
        if (result.metaType() == QMetaType::fromType<KelpFault>())
            results.append(result.value<KelpFault>().faultMap());
        else
            results.append(QVariant(QVariantList { result }));
    }
    return results;
}

QVariant KelpSystemMethods::oneOfMany(const KelpMethodTable &table, const QVariant &call)
{
    const QVariantMap fields = call.toMap();
    const QVariant name = fields.value(QStringLiteral("methodName"));
    const QVariant params = fields.value(QStringLiteral("params"));
    if (call.typeId() != QMetaType::QVariantMap || name.typeId() != QMetaType::QString
        || params.typeId() != QMetaType::QVariantList)
        return fault(KelpFault::notConforming());
    // A multicall inside a multicall could nest without end.
    if (name.toString() == QLatin1String("system.multicall"))
        return fault(KelpFault::multicallCallsItself());
    return answer(table, name.toString(), params.toList());
}
