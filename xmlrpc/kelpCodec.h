#ifndef KELPCODEC_H
#define KELPCODEC_H

#include <QByteArray>
#include <QDomElement>
#include <QMetaType>
#include <QString>
#include <QVariant>

class QDomDocument;
class KelpFault;

// Converts between variants and XML-RPC values and writes and reads whole XML-RPC documents,
// for the server and the client alike.
//
// Values are of the types that KelpValueType lists: bool, int, double, QString, QByteArray
// (base64), QDateTime, QVariantList (array) and QVariantMap (struct); other variant types are
// not marshalled: the writer leaves them out with a debug message.
namespace KelpCodec {

enum class DocumentError {
    None,
    // Not well-formed XML, or a document that carries a document type declaration.
    NotWellFormed,
    // Arrays and structs nested more than KelpValueType::MaxNestingDepth deep.
    NestedTooDeep,
};

// The "methodCall" document for method with args, in UTF-8. An argument that is not
// marshalled leaves an empty "param".
QByteArray prepareCall(const QString &method, const QVariantList &args);
// The "methodResponse" document carrying result, or the fault that result holds. An invalid
// result, or a null string, byte array or date-time, gives "params" without a "param", which
// not every client accepts; the server answers a slot that returns nothing with an empty
// string instead.
QByteArray prepareResponse(const QVariant &result);
QByteArray prepareFault(const KelpFault &fault);

// Reads a "methodCall" document; false, with *fault saying why, when it cannot be answered.
bool readCall(const QByteArray &body, QString *method, QVariantList *args, KelpFault *fault);
// The call in a document that has been read; false when it has no "methodName".
bool callFromDocument(const QDomDocument &document, QString *method, QVariantList *args);
// The result that a "methodResponse" document carries, or a KelpFault: the one it carries,
// or the one saying why it cannot be read.
QVariant readResponse(const QByteArray &response);

// Reads a whole document into *document, honouring the encoding that the XML declaration
// names (UTF-8 when none). Text made only of white space is kept where it is the whole
// content of a "value", "string" or "name" element (a string of blanks) and dropped
// elsewhere, where it is layout. On NotWellFormed, *errorString and *errorLine say what is
// wrong and where.
DocumentError readDocument(const QByteArray &data, QDomDocument *document,
    QString *errorString = nullptr, int *errorLine = nullptr);
// The variant for a "value" element. Type names are compared without regard to case; "nil",
// an unknown type (with a debug message) or an element that is not "value" give an invalid
// variant.
QVariant fromXml(const QDomElement &element);
// "int", "double", "string", ...; empty for a type XML-RPC cannot carry.
QString typeName(QMetaType type);

} // namespace KelpCodec

#endif // KELPCODEC_H
