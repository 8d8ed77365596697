#include "kelpWriter.h"

#include "kelpLog.h"

#include <QDebug>

#include <algorithm>
#include <cstring>

namespace {

bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xa || c == 0xd || (c >= 0x20 && c <= 0xd7ff)
        || (c >= 0xe000 && c <= 0xfffd) || (c >= 0x10000 && c <= 0x10ffff);
}

QByteArrayView bytes(QLatin1String name)
{
    return QByteArrayView(name.data(), name.size());
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

void KelpWriter::element(int depth, QByteArrayView name, const QString &content)
{
    indent(depth);
    put("<").put(name).put(">");
    text(content);
    put("</").put(name).put(">\n");
}

void KelpWriter::plainElement(int depth, QByteArrayView name, QByteArrayView content)
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
        if (const KelpValueType *type = writable(v)) {
            open(depth + 1, "param");
            value(depth + 2, *type, v);
            close(depth + 1, "param");
        } else {
            empty(depth + 1, "param");
        }
    }
    close(depth, "params");
}

void KelpWriter::value(int depth, const QVariantMap &map)
{
    open(depth, "value");
    members(depth + 1, map);
    close(depth, "value");
}

QByteArray KelpWriter::document() const
{
    return out.first(size);
}

const KelpValueType *KelpWriter::writable(const QVariant &value)
{
    const KelpValueType *type = KelpValueType::carrying(value.metaType());
    if (!type) {
        qCDebug(lcHttp, "Failed to marshal unknown variant type: %s",
            value.isValid() ? value.typeName() : "Invalid");
    }
    return type;
}

void KelpWriter::value(int depth, const KelpValueType &type, const QVariant &v)
{
    open(depth, "value");
    switch (type.form) {
    case KelpValueType::Form::Array:
        array(depth + 1, v.toList());
        break;
    case KelpValueType::Form::Struct:
        members(depth + 1, v.toMap());
        break;
    case KelpValueType::Form::Text:
        element(depth + 1, bytes(type.name), v.toString());
        break;
    default:
        plainElement(depth + 1, bytes(type.name), type.write(v, &scratch));
        break;
    }
    close(depth, "value");
}

void KelpWriter::array(int depth, const QVariantList &items)
{
    open(depth, "array");
    const qsizetype start = size;
    open(depth + 1, "data");
    bool written = false;
    for (const QVariant &item : items) {
        if (const KelpValueType *type = writable(item)) {
            value(depth + 2, *type, item);
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
        if (const KelpValueType *type = writable(it.value()))
            value(depth + 2, *type, it.value());
        close(depth + 1, "member");
    }
    close(depth, "struct");
}

void KelpWriter::text(const QString &content)
{
    const char16_t *const begin = QStringView(content).utf16();
    const char16_t *const end = begin + content.size();
    // Nearly every text is plain and goes out as it is.
    if (std::all_of(begin, end, KelpValueType::isPlainChar)) {
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
