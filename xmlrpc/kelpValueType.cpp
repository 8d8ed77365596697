#include "kelpValueType.h"

#include <QDateTime>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>

namespace {

using Form = KelpValueType::Form;

// How date-times are written, and read in any case.
constexpr char DateTimeFormat[] = "yyyyMMdd'T'hh:mm:ss";

QVariant readString(const QString &text)
{
    return text;
}

QVariant readInt(const QString &text)
{
    return text.toInt(nullptr, 10);
}

QVariant readDouble(const QString &text)
{
    return text.toDouble();
}

QVariant readBoolean(const QString &text)
{
    return text.toLower() == QLatin1String("true") || text == QLatin1String("1");
}

QVariant readBase64(const QString &text)
{
    // Not null either, for the same reason as strings.
    const QByteArray bytes = QByteArray::fromBase64(text.toLatin1());
    return bytes.isNull() ? QByteArray("") : bytes;
}

QVariant readDateTime(const QString &text)
{
    return QDateTime::fromString(text, QLatin1String(DateTimeFormat));
}

QByteArrayView writeBoolean(const QVariant &value, KelpValueType::Scratch *)
{
    return value.toBool() ? "1" : "0";
}

QByteArrayView written(const char *begin, std::to_chars_result result)
{
    return QByteArrayView(begin, result.ptr - begin);
}

QByteArrayView writeInt(const QVariant &value, KelpValueType::Scratch *scratch)
{
    return written(scratch->digits,
        std::to_chars(std::begin(scratch->digits), std::end(scratch->digits), value.toInt()));
}

// The shortest decimal digits that read back as the same double, without an exponent: the
// XML-RPC double is a sign, digits and a point, and a peer may read no other form. There is
// no form for not-a-number or infinity; they go out as "nan", "inf" and "-inf", which
// Python's client reads.
QByteArrayView writeDouble(const QVariant &value, KelpValueType::Scratch *scratch)
{
    const double number = value.toDouble();
    if (std::isnan(number))
        return "nan";
    return written(scratch->digits,
        std::to_chars(std::begin(scratch->digits), std::end(scratch->digits), number,
            std::chars_format::fixed));
}

QByteArrayView writeBase64(const QVariant &value, KelpValueType::Scratch *scratch)
{
    scratch->bytes = value.toByteArray().toBase64();
    return scratch->bytes;
}

// Standard clients know only the spelling of the table; the readers accept any case.
QByteArrayView writeDateTime(const QVariant &value, KelpValueType::Scratch *scratch)
{
    scratch->bytes = value.toDateTime().toString(QLatin1String(DateTimeFormat)).toLatin1();
    return scratch->bytes;
}

// Ints first: they are the most frequent in large documents.
const KelpValueType types[] = {
    { QLatin1String("int"), QLatin1String("i4"), QMetaType::Int, Form::Scalar, readInt, writeInt },
    { QLatin1String("boolean"), {}, QMetaType::Bool, Form::Scalar, readBoolean, writeBoolean },
    { QLatin1String("double"), {}, QMetaType::Double, Form::Scalar, readDouble, writeDouble },
    { QLatin1String("string"), {}, QMetaType::QString, Form::Text, readString, nullptr },
    { QLatin1String("base64"), {}, QMetaType::QByteArray, Form::Scalar, readBase64, writeBase64 },
    { QLatin1String("dateTime.iso8601"), QLatin1String("datetime"), QMetaType::QDateTime,
        Form::Scalar, readDateTime, writeDateTime },
    { QLatin1String("array"), {}, QMetaType::QVariantList, Form::Array, nullptr, nullptr },
    { QLatin1String("struct"), {}, QMetaType::QVariantMap, Form::Struct, nullptr, nullptr },
    { QLatin1String("nil"), {}, QMetaType::UnknownType, Form::Nil, nullptr, nullptr },
};

char asciiLower(char16_t c)
{
    return char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

// Letters in any case, as lowering the name has always compared them: only ASCII letters
// lower to the letters of a type's name.
bool sameInAnyCase(QStringView name, QLatin1String candidate)
{
    return !candidate.isEmpty() && name.size() == candidate.size()
        && std::equal(name.begin(), name.end(), candidate.begin(), [](QChar c, char letter) {
               return c.unicode() < 0x80 && asciiLower(c.unicode()) == asciiLower(letter);
           });
}

bool sameBytes(QByteArrayView name, QLatin1String candidate)
{
    return !candidate.isEmpty() && name.size() == candidate.size()
        && std::equal(name.begin(), name.end(), candidate.begin(), std::equal_to<char>());
}

template<typename Predicate>
const KelpValueType *find(Predicate matches)
{
    const auto found = std::find_if(std::begin(types), std::end(types), matches);
    return found == std::end(types) ? nullptr : found;
}

} // namespace

const KelpValueType *KelpValueType::named(QByteArrayView name)
{
    return find([name](const KelpValueType &type) {
        return sameBytes(name, type.name) || sameBytes(name, type.alias);
    });
}

const KelpValueType *KelpValueType::namedInAnyCase(QStringView name)
{
    return find([name](const KelpValueType &type) {
        return sameInAnyCase(name, type.name) || sameInAnyCase(name, type.alias);
    });
}

const KelpValueType *KelpValueType::carrying(QMetaType metaType)
{
    return find([metaType](const KelpValueType &type) {
        return type.form != Form::Nil && type.metaType == metaType.id();
    });
}

// Never a null string: a null result would be answered as "no result".
QVariant KelpValueType::fromText(const QString &text) const
{
    return read(text.isNull() ? QString(QLatin1String("")) : text);
}

QVariant KelpValueType::untyped(const QString &text)
{
    return carrying(QMetaType::fromType<QString>())->fromText(text);
}
