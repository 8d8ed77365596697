#include "kelpWriter.h"

#include <QDateTime>
#include <QDebug>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// Printable ASCII that XML text takes as it is, and the two layout characters.
bool isPlainChar(char16_t c)
{
    return (c >= 0x20 && c <= 0x7e && c != '<' && c != '>' && c != '&') || c == '\t' || c == '\n';
}

bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xa || c == 0xd || (c >= 0x20 && c <= 0xd7ff)
        || (c >= 0xe000 && c <= 0xfffd) || (c >= 0x10000 && c <= 0x10ffff);
}

// The shortest decimal digits that read back as the same double, without an exponent: the
// XML-RPC double is a sign, digits and a point, and a peer may read no other form. There is
// no form for not-a-number or infinity; they go out as "nan", "inf" and "-inf", which
// Python's client reads.
QByteArray doubleText(double value)
{
    if (std::isnan(value))
        return QByteArrayLiteral("nan");
    // The largest double has 309 digits, the smallest subnormal 324 decimals and 1 digit.
    char digits[400];
    const auto written
        = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed);
    return QByteArray(digits, written.ptr - digits);
}

} // namespace

KelpWriter::KelpWriter()
{
    // QByteArray::append() takes the general insertion path, which costs more than a large
    // result's whole text; the document grows here by doubling instead.
    out.resize(4096);
    put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
}

void KelpWriter::open(int depth, const char *name)
{
    indent(depth);
    put("<").put(name).put(">\n");
}

void KelpWriter::close(int depth, const char *name)
{
    indent(depth);
    put("</").put(name).put(">\n");
}

void KelpWriter::empty(int depth, const char *name)
{
    indent(depth);
    put("<").put(name).put("/>\n");
}

void KelpWriter::element(int depth, const char *name, const QString &content)
{
    indent(depth);
    put("<").put(name).put(">");
    text(content);
    put("</").put(name).put(">\n");
}

void KelpWriter::plainElement(int depth, const char *name, QByteArrayView content)
{
    indent(depth);
    put("<").put(name).put(">").put(content).put("</").put(name).put(">\n");
}

void KelpWriter::params(int depth, const QVariantList &values)
{
    if (values.isEmpty()) {
        empty(depth, "params");
        return;
    }
    open(depth, "params");
    for (const QVariant &v : values) {
        if (writable(v)) {
            open(depth + 1, "param");
            value(depth + 2, v);
            close(depth + 1, "param");
        } else {
            empty(depth + 1, "param");
        }
    }
    close(depth, "params");
}

void KelpWriter::value(int depth, const QVariant &v)
{
    open(depth, "value");
    typed(depth + 1, v);
    close(depth, "value");
}

QByteArray KelpWriter::document() const
{
    return out.first(size);
}

bool KelpWriter::writable(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::Double:
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::QDateTime:
    case QMetaType::QVariantList:
    case QMetaType::QVariantMap:
        return true;
    default:
        qDebug("Failed to marshal unknown variant type: %s",
            value.isValid() ? value.typeName() : "Invalid");
        return false;
    }
}

void KelpWriter::typed(int depth, const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
        plainElement(depth, "boolean", v.toBool() ? "1" : "0");
        break;
    case QMetaType::Int: {
        char digits[16];
        const auto written = std::to_chars(digits, digits + sizeof digits, v.toInt());
        plainElement(depth, "int", QByteArrayView(digits, written.ptr - digits));
        break;
    }
    case QMetaType::Double:
        plainElement(depth, "double", doubleText(v.toDouble()));
        break;
    case QMetaType::QString:
        element(depth, "string", v.toString());
        break;
    case QMetaType::QByteArray:
        plainElement(depth, "base64", v.toByteArray().toBase64());
        break;
    case QMetaType::QDateTime:
        // Standard clients know only this spelling; the readers accept any case.
        element(depth, "dateTime.iso8601", v.toDateTime().toString(QLatin1String(DateTimeFormat)));
        break;
    case QMetaType::QVariantList:
        array(depth, v.toList());
        break;
    default:
        members(depth, v.toMap());
        break;
    }
}

void KelpWriter::array(int depth, const QVariantList &items)
{
    open(depth, "array");
    const qsizetype start = size;
    open(depth + 1, "data");
    bool written = false;
    for (const QVariant &item : items) {
        if (writable(item)) {
            value(depth + 2, item);
            written = true;
        }
    }
    if (written) {
        close(depth + 1, "data");
    } else {
        size = start;
        empty(depth + 1, "data");
    }
    close(depth, "array");
}

void KelpWriter::members(int depth, const QVariantMap &map)
{
    if (map.isEmpty()) {
        empty(depth, "struct");
        return;
    }
    open(depth, "struct");
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        open(depth + 1, "member");
        element(depth + 2, "name", it.key());
        if (writable(it.value()))
            value(depth + 2, it.value());
        close(depth + 1, "member");
    }
    close(depth, "struct");
}

void KelpWriter::text(const QString &content)
{
    const char16_t *const begin = QStringView(content).utf16();
    const char16_t *const end = begin + content.size();
    // Nearly every text is plain and goes out as it is.
    if (std::all_of(begin, end, isPlainChar)) {
        put(content.toLatin1());
        return;
    }
    char32_t previous[2] = { 0, 0 };
    for (const char16_t *c = begin; c != end; ++c) {
        char32_t code = *c;
        if (QChar::isHighSurrogate(code) && c + 1 != end && QChar::isLowSurrogate(c[1]))
            code = QChar::surrogateToUcs4(char16_t(code), *++c);
        if (!isXmlChar(code))
            continue;
        if (code == '<')
            put("&lt;");
        else if (code == '&')
            put("&amp;");
        else if (code == '>' && previous[0] == ']' && previous[1] == ']')
            put("&gt;");
        else if (code == '\r')
            put("&#xd;");
        else
            putUtf8(code);
        previous[1] = previous[0];
        previous[0] = code;
    }
}

KelpWriter &KelpWriter::put(QByteArrayView bytes)
{
    // An empty text, a null string's above all, may have no data to copy from.
    if (bytes.isEmpty())
        return *this;
    if (size + bytes.size() > out.size())
        out.resize(std::max(2 * out.size(), size + bytes.size()));
    std::memcpy(out.data() + size, bytes.data(), size_t(bytes.size()));
    size += bytes.size();
    return *this;
}

void KelpWriter::putUtf8(char32_t code)
{
    char bytes[4];
    int length = 0;
    if (code < 0x80) {
        bytes[length++] = char(code);
    } else if (code < 0x800) {
        bytes[length++] = char(0xc0 | code >> 6);
        bytes[length++] = char(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        bytes[length++] = char(0xe0 | code >> 12);
        bytes[length++] = char(0x80 | (code >> 6 & 0x3f));
        bytes[length++] = char(0x80 | (code & 0x3f));
    } else {
        bytes[length++] = char(0xf0 | code >> 18);
        bytes[length++] = char(0x80 | (code >> 12 & 0x3f));
        bytes[length++] = char(0x80 | (code >> 6 & 0x3f));
        bytes[length++] = char(0x80 | (code & 0x3f));
    }
    put(QByteArrayView(bytes, length));
}

void KelpWriter::indent(int depth)
{
    static constexpr char Blanks[] = "                                ";
    constexpr int Width = sizeof Blanks - 1;
    for (; depth > Width; depth -= Width)
        put(QByteArrayView(Blanks, Width));
    put(QByteArrayView(Blanks, depth));
}
