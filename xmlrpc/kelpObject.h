#ifndef KELPOBJECT_H
#define KELPOBJECT_H

#include <QDomElement>
#include <QNetworkReply>
#include <QObject>
#include <QVariant>

class QDomDocument;
class QXmlStreamReader;

// Converts between variants and XML-RPC values and writes and reads whole XML-RPC
// documents. The static members serve both the server and the client. An instance is a
// client-side call object: it reads the response to one call, announces the outcome through
// aresponse() or fault() and then deletes itself.
//
// Values are bool, int, double, QString, QByteArray (base64), QDateTime, QVariantList
// (array) and QVariantMap (struct); other variant types are not marshalled.
class KelpObject : public QObject
{
    Q_OBJECT
public:
    // Arrays and structs nest at most this deep in a document that is read. A deeper
    // document is refused as a whole, so that no peer can make the reader recurse without
    // bound; the server answers it with NestedTooDeepFault.
    static constexpr int MaxNestingDepth = 64;
    static constexpr int NestedTooDeepFault = -32600;

    enum class DocumentError {
        None,
        // Not well-formed XML, or a document that carries a document type declaration.
        NotWellFormed,
        // Arrays and structs nested more than MaxNestingDepth deep.
        NestedTooDeep,
    };

    // Makes every XML document that the process builds from now on drop characters that XML
    // cannot carry (control characters in strings), so that a call or result holding one
    // still yields a well-formed document.
    explicit KelpObject(QObject *parent = nullptr);

    // The "methodCall" document for method with args. An argument that is not marshalled
    // leaves an empty "param".
    static QString prepareCall(const QString &method, const QVariantList &args);
    // The "methodResponse" document carrying result. An invalid result, or a null string,
    // byte array or date-time, gives "params" without a "param", which not every client
    // accepts; the server answers a slot that returns nothing with an empty string instead.
    static QString prepareResponse(const QVariant &result);

    // The "value" element for value, or a null element (with a debug message) when the
    // type is not marshalled. The element belongs to a scratch document; append it where
    // it is wanted.
    static QDomElement toXml(const QVariant &value);
    // The variant for a "value" element. Type names are compared without regard to case;
    // "nil", an unknown type (with a debug message) or an element that is not "value"
    // give an invalid variant.
    static QVariant fromXml(const QDomElement &element);

    // Reads a whole document into *document. Text made only of white space is kept where it
    // is the whole content of a "value", "string" or "name" element (a string of blanks) and
    // dropped elsewhere, where it is layout.
    // The bytes overload honours the encoding that the XML declaration names (UTF-8 when
    // none). On NotWellFormed, *errorString and *errorLine say what is wrong and where.
    static DocumentError readDocument(const QByteArray &data, QDomDocument *document,
        QString *errorString = nullptr, int *errorLine = nullptr);
    static DocumentError readDocument(const QString &text, QDomDocument *document,
        QString *errorString = nullptr, int *errorLine = nullptr);

    // As parseResponse(), for the response as it came off the wire.
    void parseResponseData(const QByteArray &response, QNetworkReply *reply);
    // For a call that got no response document (a network or HTTP error): emits fault()
    // and deletes the object, as parseResponse() does.
    void reportFault(int faultCode, const QString &faultString, QNetworkReply *reply);

public slots:
    // Reads one "methodResponse" document, emits exactly one of aresponse() and fault(),
    // then deletes the object at once: nothing may use it after this returns.
    void parseResponse(const QString &response, QNetworkReply *reply);

signals:
    // The decoded result; it lives only while the signal is emitted, so copy what you keep.
    void aresponse(QVariant &result, QNetworkReply *reply);
    // Part of the call object's interface for receivers that relay calls; the library itself
    // never emits it.
    void call(const QString &method, const QVariantList &args);
    void fault(int faultCode, const QString &faultString, QNetworkReply *reply);

private:
    void announce(QXmlStreamReader &reader, QNetworkReply *reply);
    void announceResponse(const QDomDocument &document, QNetworkReply *reply);
    static QDomElement valueElement(QDomDocument &document, const QVariant &value);
    static QVariant fromXml(const QDomElement &element, int nesting);
};

#endif // KELPOBJECT_H
