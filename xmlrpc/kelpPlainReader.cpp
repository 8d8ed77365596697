#include "kelpPlainReader.h"

#include "kelpCodec.h"

#include <QByteArrayView>

#include <algorithm>
#include <cstring>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

bool isPlainChar(char16_t c)
{
    return (c >= 0x20 && c <= 0x7e && c != '<' && c != '>' && c != '&') || c == '\t' || c == '\n';
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

// Never a null string: a null result would be answered as "no result".
QString nonNull(QByteArrayView text)
{
    return text.isEmpty() ? QString(QLatin1String("")) : QString::fromLatin1(text);
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
            if (!isPlainChar(uchar(*p)))
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
        *result = nonNull(string);
        return true;
    }

    bool typed(QVariant *result, int nesting)
    {
        if (take("<array>"))
            return nesting < KelpCodec::MaxNestingDepth && array(result, nesting + 1);
        if (take("<struct/>")) {
            *result = QVariantMap();
            return true;
        }
        if (take("<struct>"))
            return nesting < KelpCodec::MaxNestingDepth && members(result, nesting + 1);
        return scalar("<int>", "</int>", "int", result) || scalar("<i4>", "</i4>", "i4", result)
            || scalar("<string>", "</string>", "string", result)
            || scalar("<double>", "</double>", "double", result)
            || scalar("<boolean>", "</boolean>", "boolean", result)
            || scalar("<base64>", "</base64>", "base64", result)
            || scalar("<dateTime.iso8601>", "</dateTime.iso8601>", "datetime.iso8601", result);
    }

    template<size_t Open, size_t Close>
    bool scalar(
        const char (&open)[Open], const char (&close)[Close], const char *type, QVariant *result)
    {
        const char *start = p;
        QByteArrayView content;
        if (!take(open) || !text(&content) || !take(close)) {
            // Back to the start of the element, so that the next type tried cannot match
            // from inside this one: "<boolean><int>1</int>" is no int.
            p = start;
            return false;
        }
        // Blanks alone are layout, except in a string.
        const bool keepsBlanks = std::strcmp(type, "string") == 0;
        if (!keepsBlanks && std::all_of(content.begin(), content.end(), isBlank))
            content = QByteArrayView();
        const bool integer = std::strcmp(type, "int") == 0 || std::strcmp(type, "i4") == 0;
        int number = 0;
        if (integer && isShortDecimal(content, &number))
            *result = number;
        else
            *result = KelpCodec::scalarValue(QLatin1String(type), nonNull(content));
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
};

} // namespace

bool KelpPlainReader::readCall(const QByteArray &body, QString *method, QVariantList *args)
{
    return Reader(body).call(method, args);
}
