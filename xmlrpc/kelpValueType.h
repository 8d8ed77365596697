#ifndef KELPVALUETYPE_H
#define KELPVALUETYPE_H

#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1String>
#include <QMetaType>
#include <QString>
#include <QStringView>
#include <QVariant>

// One type of XML-RPC value: its element name, the variant type that carries it and how a
// scalar's text is read and written. The types form one table, from which the writer, both
// readers and the method signatures take every type; XML-RPC carries no other.
struct KelpValueType
{
    enum class Form {
        // Text without markup: blanks alone are layout.
        Scalar,
        // A string: its text escaped where XML asks, and blanks alone are its content.
        Text,
        Array,
        Struct,
        // Read as an invalid variant, never written.
        Nil,
    };

    // Where write() makes a text: a number's in digits, others in bytes.
    struct Scratch
    {
        // The longest double has 309 digits, the smallest subnormal 324 decimals and 1 digit.
        char digits[400];
        QByteArray bytes;
    };

    // As written, and read.
    QLatin1String name;
    // Also read; empty for none.
    QLatin1String alias;
    QMetaType::Type metaType;
    Form form;
    // For scalars and strings: the value of an element holding text, which is not null.
    QVariant (*read)(const QString &text);
    // For scalars: the text written for value, printable ASCII without markup, made in *scratch
    // unless it is a constant.
    QByteArrayView (*write)(const QVariant &value, Scratch *scratch);

    // Arrays and structs nest at most this deep in a document that is read. A deeper document
    // is refused as a whole, so that no peer can make a reader recurse without bound.
    static constexpr int MaxNestingDepth = 64;

    // For scalars and strings: the value of an element holding text, which may be null.
    QVariant fromText(const QString &text) const;

    // The type whose name or alias is name, spelled as in the table; null when there is none.
    static const KelpValueType *named(QByteArrayView name);
    // The same, with letters in any case, as documents may spell them.
    static const KelpValueType *namedInAnyCase(QStringView name);
    // The type that carries variants of type; null for a type XML-RPC cannot carry.
    static const KelpValueType *carrying(QMetaType type);
    // What a "value" without a type element holds: a string, blanks and all.
    static QVariant untyped(const QString &text);

    // Printable ASCII that XML text takes as it is, and the two layout characters.
    static bool isPlainChar(char16_t c)
    {
        return (c >= 0x20 && c <= 0x7e && c != '<' && c != '>' && c != '&') || c == '\t'
            || c == '\n';
    }
};

#endif // KELPVALUETYPE_H
