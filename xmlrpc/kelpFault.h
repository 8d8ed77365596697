#ifndef KELPFAULT_H
#define KELPFAULT_H

#include <QMetaType>
#include <QObject>
#include <QVariantMap>

// An XML-RPC fault: a code and a text. A variant can hold one, which lets a served slot
// answer with a fault instead of a result by returning QVariant::fromValue(KelpFault(...)).
class KelpFault : public QObject
{
    Q_OBJECT
public:
    explicit KelpFault(
        int faultCode = 0, const QString &faultString = QString(), QObject *parent = nullptr);
    // The copy has no parent: copies live inside variants and on the stack, where a parent
    // deleting them would free them a second time.
    KelpFault(const KelpFault &other);
    // Copies the fault, not the parent; lets a slot return a KelpFault itself.
    KelpFault &operator=(const KelpFault &other);

    // The "methodResponse" document that carries the fault.
    QString toString() const;

    // Exactly two entries: "faultCode" (int) and "faultString" (QString).
    QVariantMap faultMap;
};

Q_DECLARE_METATYPE(KelpFault)

#endif // KELPFAULT_H
