#include "kelpMethodTable.h"

#include "kelpCodec.h"
#include "kelpFault.h"

#include <QMetaMethod>

#include <array>

namespace {

// The most arguments QMetaMethod::invoke() passes.
constexpr int MaxArguments = 10;

QMetaMethod findSlot(
    const QMetaObject *metaObject, const QByteArray &name, const QList<QByteArray> &parameterTypes)
{
    for (int i = 0; i < metaObject->methodCount(); ++i) {
        const QMetaMethod method = metaObject->method(i);
        if (method.name() == name && method.parameterTypes() == parameterTypes)
            return method;
    }
    return QMetaMethod();
}

// Calls the slot called slotName whose parameter types are exactly the types of args,
// putting its return value, if any, into *result. False when there is no such slot, its
// return type is not registered with QMetaType, or the call is refused.
bool invokeMethodWithVariants(
    QObject *object, const QByteArray &slotName, const QVariantList &args, QVariant *result)
{
    if (args.size() > MaxArguments)
        return false;
    // An argument that read as an invalid variant ("nil", an unknown type) has no type name
    // and so matches no parameter.
    QList<QByteArray> typeNames;
    for (const QVariant &arg : args)
        typeNames.append(QByteArray(arg.typeName()));
    const QMetaMethod method = findSlot(object->metaObject(), slotName, typeNames);
    if (!method.isValid())
        return false;

    QVariant holder;
    QGenericReturnArgument returnArgument;
    if (method.returnType() != QMetaType::Void) {
        if (method.returnType() == QMetaType::QVariant) {
            returnArgument = QGenericReturnArgument("QVariant", &holder);
        } else {
            const QMetaType returnType = method.returnMetaType();
            if (!returnType.isValid())
                return false;
            holder = QVariant(returnType);
            returnArgument = QGenericReturnArgument(method.typeName(), holder.data());
        }
    }
    std::array<QGenericArgument, MaxArguments> arguments;
    for (int i = 0; i < args.size(); ++i)
        arguments[i] = QGenericArgument(typeNames.at(i).constData(), args.at(i).constData());
    if (!method.invoke(object, Qt::AutoConnection, returnArgument, arguments[0], arguments[1],
            arguments[2], arguments[3], arguments[4], arguments[5], arguments[6], arguments[7],
            arguments[8], arguments[9]))
        return false;
    *result = holder;
    return true;
}

} // namespace

void KelpMethodTable::add(
    const QString &method, QObject *object, const char *slot, const QString &help)
{
    methods.insert(method, { object, QByteArray(slot), help });
}

void KelpMethodTable::remove(const QString &method)
{
    methods.remove(method);
}

QVariant KelpMethodTable::call(const QString &method, const QVariantList &args) const
{
    const Method *served = find(method);
    if (!served)
        return QVariant::fromValue(KelpFault::methodNotFound());
    QVariant result;
    if (!invokeMethodWithVariants(served->object, served->slot, args, &result))
        return QVariant::fromValue(KelpFault::invalidParameters());
    // A response holds exactly one value, and clients such as xmlrpc-c's refuse one without:
    // a slot that returns nothing answers with an empty string.
    if (!result.isValid())
        result = QString(QLatin1String(""));
    return result;
}

QStringList KelpMethodTable::names() const
{
    QStringList names;
    for (auto it = methods.cbegin(); it != methods.cend(); ++it) {
        if (it->object)
            names.append(it.key());
    }
    return names;
}

bool KelpMethodTable::contains(const QString &method) const
{
    return find(method);
}

QString KelpMethodTable::help(const QString &method) const
{
    const Method *served = find(method);
    return served ? served->help : QString();
}

QVariantList KelpMethodTable::signatures(const QString &method) const
{
    const Method *served = find(method);
    if (!served)
        return {};
    QVariantList signatures;
    const QMetaObject *metaObject = served->object->metaObject();
    for (int i = 0; i < metaObject->methodCount(); ++i) {
        const QMetaMethod slot = metaObject->method(i);
        if (slot.name() != served->slot)
            continue;
        // What a slot without a result answers with.
        QVariantList types { slot.returnType() == QMetaType::Void
                ? QStringLiteral("string")
                : KelpCodec::typeName(slot.returnMetaType()) };
        for (int p = 0; p < slot.parameterCount(); ++p)
            types.append(KelpCodec::typeName(slot.parameterMetaType(p)));
        if (types.contains(QString()))
            return {};
        signatures.append(QVariant(types));
    }
    return signatures;
}

const KelpMethodTable::Method *KelpMethodTable::find(const QString &method) const
{
    const auto found = methods.constFind(method);
    return found != methods.cend() && found->object ? &*found : nullptr;
}
