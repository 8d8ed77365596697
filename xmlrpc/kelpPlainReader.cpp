#include "kelpPlainReader.h"

#include "kelpValueType.h"

#include <QByteArrayView>

#include <algorithm>
#include <cstring>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

// Whether text is an optional minus and one to nine digits, which every conversion reads
// alike and no int overflows with; converting it here spares two string copies per number.
bool isShortDecimal(QByteArrayView text, int *number)
{
    const bool negative = text.startsWith('-');
    const QByteArrayView digits = negative ? text.sliced(1) : text;
    if (digits.isEmpty() || digits.size() > 9)
        return false;
    int value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = 10 * value + (c - '0');
    }
    *number = negative ? -value : value;
    return true;
}

class Reader
{
public:
    explicit Reader(const QByteArray &body)
        : p(body.constData())
        , end(body.constData() + body.size())
    { }

    bool call(QString *method, QVariantList *args)
    {
        declaration();
        skipBlanks();
        QByteArrayView name;
        if (!take("<methodCall>") || !(skipBlanks(), take("<methodName>")) || !text(&name)
            || !take("</methodName>"))
            return false;
        // A name of blanks alone reads as no name at all.
        if (std::all_of(name.begin(), name.end(), isBlank))
            return false;
        *method = QString::fromLatin1(name);
        args->clear();
        skipBlanks();
        if (take("<params>")) {
            for (skipBlanks(); !take("</params>"); skipBlanks()) {
                QVariant arg;
                if (!take("<param>") || !(skipBlanks(), value(&arg, 0))
                    || !(skipBlanks(), take("</param>")))
                    return false;
                args->append(arg);
            }
        } else {
            take("<params/>");
        }
        skipBlanks();
        if (!take("</methodCall>"))
            return false;
        skipBlanks();
        return p == end;
    }

private:
    template<size_t N>
    bool take(const char (&literal)[N])
    {
        constexpr size_t length = N - 1;
        if (size_t(end - p) < length || std::memcmp(p, literal, length) != 0)
            return false;
        p += length;
        return true;
    }

    bool startsWith(char c) const { return p < end && *p == c; }

    void skipBlanks()
    {
        while (p < end && isBlank(*p))
            ++p;
    }

    // The text up to the next '<'; false when it holds anything but plain characters.
    bool text(QByteArrayView *result)
    {
        const char *start = p;
        while (p < end && *p != '<') {
            if (!KelpValueType::isPlainChar(uchar(*p)))
                return false;
            ++p;
        }
        *result = QByteArrayView(start, p - start);
        return p < end;
    }

    void declaration()
    {
        const char *start = p;
        if (!take("<?xml version="))
            return;
        if (take("\"1.0\"") || take("'1.0'")) {
            // The encoding may be named, but only as UTF-8.
            static_cast<void>(take(" encoding=\"UTF-8\"") || take(" encoding='UTF-8'")
                || take(" encoding=\"utf-8\"") || take(" encoding='utf-8'"));
            if (take("?>"))
                return;
        }
        // Not a declaration this reader knows: the call is then not plain.
        p = start;
    }

    bool value(QVariant *result, int nesting)
    {
        if (take("<value/>")) {
            *result = QString(QLatin1String(""));
            return true;
        }
        if (!take("<value>"))
            return false;
        const char *content = p;
        skipBlanks();
        if (startsWith('<') && !(p + 1 < end && p[1] == '/')) {
            // Blanks around the type element are layout.
            return typed(result, nesting) && (skipBlanks(), take("</value>"));
        }
        // A value without a type element is a string, blanks and all.
        p = content;
        QByteArrayView string;
        if (!text(&string) || !take("</value>"))
            return false;
        *result = KelpValueType::untyped(QString::fromLatin1(string));
        return true;
    }

    bool take(QByteArrayView bytes)
    {
        if (end - p < bytes.size()
            || !std::equal(bytes.begin(), bytes.end(), p, std::equal_to<char>()))
            return false;
        p += bytes.size();
        return true;
    }

    // The name of the element that begins here, up to the end of its start tag: with attributes
    // or blanks, it is the name of no type.
    QByteArrayView elementName()
    {
        if (!take("<"))
            return QByteArrayView();
        const char *start = p;
        while (p < end && *p != '>' && *p != '/')
            ++p;
        return QByteArrayView(start, p - start);
    }

    // The type of the element that begins here. The values of an array are mostly of one type,
    // so the last one found is tried first, which spares looking it up for every number.
    const KelpValueType *elementType(QByteArrayView *name)
    {
        if (recent && end - p > recentName.size() + 1 && p[0] == '<'
            && p[recentName.size() + 1] == '>'
            && std::equal(recentName.begin(), recentName.end(), p + 1, std::equal_to<char>())) {
            *name = QByteArrayView(p + 1, recentName.size());
            p += recentName.size() + 1;
            return recent;
        }
        *name = elementName();
        const KelpValueType *type = KelpValueType::named(*name);
        if (type) {
            recent = type;
            recentName = *name;
        }
        return type;
    }

    bool typed(QVariant *result, int nesting)
    {
        QByteArrayView name;
        const KelpValueType *type = elementType(&name);
        if (!type)
            return false;
        switch (type->form) {
        case KelpValueType::Form::Array:
            return take(">") && nesting < KelpValueType::MaxNestingDepth
                && array(result, nesting + 1);
        case KelpValueType::Form::Struct:
            if (take("/>")) {
                *result = QVariantMap();
                return true;
            }
            return take(">") && nesting < KelpValueType::MaxNestingDepth
                && members(result, nesting + 1);
        case KelpValueType::Form::Nil:
            return false;
        default:
            return take(">") && scalar(*type, name, result);
        }
    }

    bool scalar(const KelpValueType &type, QByteArrayView name, QVariant *result)
    {
        QByteArrayView content;
        if (!text(&content) || !take("</") || !take(name) || !take(">"))
            return false;
        // Blanks alone are layout, except in a string.
        if (type.form != KelpValueType::Form::Text
            && std::all_of(content.begin(), content.end(), isBlank))
            content = QByteArrayView();
        int number = 0;
        if (type.metaType == QMetaType::Int && isShortDecimal(content, &number))
            *result = number;
        else
            *result = type.fromText(QString::fromLatin1(content));
        return true;
    }

    bool array(QVariant *result, int nesting)
    {
        QVariantList items;
        skipBlanks();
        if (!take("<data/>")) {
            if (!take("<data>"))
                return false;
            for (skipBlanks(); !take("</data>"); skipBlanks()) {
                QVariant item;
                if (!value(&item, nesting))
                    return false;
                items.append(item);
            }
        }
        skipBlanks();
        *result = items;
        return take("</array>");
    }

    bool members(QVariant *result, int nesting)
    {
        QVariantMap map;
        for (skipBlanks(); !take("</struct>"); skipBlanks()) {
            QByteArrayView name;
            QVariant member;
            if (!take("<member>") || !(skipBlanks(), take("<name>")) || !text(&name)
                || !take("</name>") || !(skipBlanks(), value(&member, nesting))
                || !(skipBlanks(), take("</member>")))
                return false;
            map.insert(QString::fromLatin1(name), member);
        }
        *result = map;
        return true;
    }

    const char *p;
    const char *const end;
    const KelpValueType *recent = nullptr;
    QByteArrayView recentName;
};

} // namespace

bool KelpPlainReader::readCall(const QByteArray &body, QString *method, QVariantList *args)
{
    return Reader(body).call(method, args);
}
