#ifndef KELPWRITER_H
#define KELPWRITER_H

#include "kelpValueType.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QVariant>

// Writes the text of an XML-RPC document, in UTF-8 and laid out with one element a line,
// indented by one blank a level. This is the only writer of the library: every document it
// sends goes through here.
//
// Text loses what XML cannot carry (control characters but tab, line feed and carriage
// return, unpaired surrogates, U+FFFE and U+FFFF) and is escaped as little as XML asks:
// '<' and '&' always, '>' where it would close "]]>", and a carriage return, which a reader
// would otherwise take for a line end, as "&#xd;".
class KelpWriter
{
public:
    // Starts the document with its XML declaration.
    KelpWriter();

    void open(int depth, const char *name);
    void close(int depth, const char *name);
    void empty(int depth, const char *name);
    // An element holding text; an empty or null text is written "<name></name>".
    void element(int depth, QByteArrayView name, const QString &text);
    // "params" holding one "param" for each value; an empty "param" for a value that is not
    // marshalled.
    void params(int depth, const QVariantList &values);
    // The "value" element for a struct.
    void value(int depth, const QVariantMap &map);

    // The document written so far.
    QByteArray document() const;

private:
    // The type of a value; null, with a debug message, for one that is not marshalled.
    static const KelpValueType *writable(const QVariant &value);
    void value(int depth, const KelpValueType &type, const QVariant &value);
    void plainElement(int depth, QByteArrayView name, QByteArrayView text);
    void array(int depth, const QVariantList &items);
    void members(int depth, const QVariantMap &map);
    void text(const QString &text);
    KelpWriter &put(QByteArrayView bytes);
    void putUtf8(char32_t code);
    void indent(int depth);

    QByteArray out;
    qsizetype size = 0;
    KelpValueType::Scratch scratch;
};

#endif // KELPWRITER_H
