#ifndef KELPPLAINREADER_H
#define KELPPLAINREADER_H

#include <QByteArray>
#include <QString>
#include <QVariant>

// Reads the plain form of a "methodCall" document without a DOM.
//
// Nearly every call is plain: the standard elements in their standard order, element names
// spelled as this library writes them (types also by their other names), no attributes,
// comments, processing instructions (but the XML declaration), CDATA sections or references,
// and text of printable ASCII without '<', '>' and '&' (tabs and line feeds allowed). Building
// a DOM for such a document costs many times more than the document itself, so the codec
// tries this class first. For anything else it declines, and the codec takes the general DOM
// path, which reads every plain document exactly as this class does.
class KelpPlainReader
{
public:
    // False, with *method and *args unspecified, when the body is not plain (which says
    // nothing about whether it is well-formed).
    static bool readCall(const QByteArray &body, QString *method, QVariantList *args);
};

#endif // KELPPLAINREADER_H
