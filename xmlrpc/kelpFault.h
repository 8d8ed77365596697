#ifndef KELPFAULT_H
#define KELPFAULT_H

#include <QMetaType>
#include <QString>
#include <QVariantMap>

// An XML-RPC fault: a code and a text. A variant can hold one, which lets a served slot
// answer with a fault instead of a result by returning QVariant::fromValue(KelpFault(...)).
//
// Every fault the library itself raises is made by one of the functions below, so that each
// code and text is written once. The server's texts have no final full stop; those of the
// client, which clients have long shown as they are, keep theirs.
class KelpFault
{
public:
    enum Code {
        TransportError = -32300,
        InvalidXmlRpc = -32600,
        MethodNotFound = -32601,
        InvalidParameters = -32602,
        NotWellFormed = -32700,
    };

    KelpFault() = default;
    KelpFault(int faultCode, const QString &faultString);

    int faultCode() const { return code; }
    QString faultString() const { return text; }
    // The fault's struct on the wire: "faultCode" (int) and "faultString" (string).
    QVariantMap faultMap() const;

    // What the server answers with.
    static KelpFault notWellFormed();
    static KelpFault notConforming();
    static KelpFault nestedTooDeep();
    static KelpFault methodNotFound();
    static KelpFault invalidParameters();
    static KelpFault multicallCallsItself();

    // What a client call ends in when the response cannot be read, or none came.
    static KelpFault responseNotWellFormed(int line, const QString &error);
    static KelpFault responseNotConforming();
    static KelpFault responseNestedTooDeep();
    static KelpFault transportError(const QString &what);

    friend bool operator==(const KelpFault &a, const KelpFault &b)
    {
        return a.code == b.code && a.text == b.text;
    }
    friend bool operator!=(const KelpFault &a, const KelpFault &b) { return !(a == b); }

private:
    int code = 0;
    QString text;
};

Q_DECLARE_METATYPE(KelpFault)

#endif // KELPFAULT_H
