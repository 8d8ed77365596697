#ifndef KELPPLAINXML_H
#define KELPPLAINXML_H

#include <QByteArray>
#include <QString>
#include <QVariant>

// The plain form of XML-RPC documents, read and written without a DOM.
//
// Nearly every call and result is plain: the standard elements in their standard order,
// lower-case element names, no attributes, comments, processing instructions (but the XML
// declaration), CDATA sections or references, and text of printable ASCII without '<', '>'
// and '&' (tabs and line feeds allowed). Building a DOM for such a document costs many
// times more than the document itself, so KelpObject and the server try this class first.
// For anything else it declines, and the caller takes the general DOM path, which reads
// and writes every plain document exactly as this class does.
class KelpPlainXml
{
public:
    // Reads a plain "methodCall" document. False, with *method and *args unspecified, when
    // the body is not plain (which says nothing about whether it is well-formed).
    static bool readCall(const QByteArray &body, QString *method, QVariantList *args);

    // The "methodResponse" document for result (an invalid result: "params" without a
    // "param") as KelpObject::prepareResponse() writes it, byte for byte. False when the
    // result holds a value that has no plain form.
    static bool writeResponse(const QVariant &result, QByteArray *document);
    // The "methodCall" document as KelpObject::prepareCall() writes it, byte for byte.
    static bool writeCall(const QString &method, const QVariantList &args, QByteArray *document);

    // The value of a scalar element of type (in lower case) holding text, as every reader
    // of this library converts it; invalid for a type that is not a scalar.
    static QVariant scalarValue(const QString &type, const QString &text);

    // Arrays and structs nest at most this deep in a plain document that is read.
    static constexpr int MaxNestingDepth = 32;
};

#endif // KELPPLAINXML_H
