#include "kelpHttpRequestHeader.h"

#include <QList>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

bool isToken(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        const bool alphanumeric
            = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alphanumeric && !std::strchr("!#$%&'*+-.^_`|~", c))
            return false;
    }
    return true;
}

bool isControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

KelpHttpRequestHeader::KelpHttpRequestHeader(const QByteArray &text)
{
    m_valid = parse(text);
}

bool KelpHttpRequestHeader::parse(const QByteArray &text)
{
    if (!text.endsWith('\n'))
        return false;
    // Drop the empty line that ends the section; what is left ends in a line feed, after
    // which split() yields one empty piece.
    QList<QByteArray> lines = text.chopped(text.endsWith("\r\n") ? 2 : 1).split('\n');
    if (lines.size() < 2 || !lines.takeLast().isEmpty())
        return false;
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (!parseRequestLine(lines.takeFirst()))
        return false;
    for (const QByteArray &line : std::as_const(lines)) {
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon);
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (colon < 0 || !isToken(name))
            return false;
        for (const char c : value) {
            if (c != '\t' && isControl(c))
                return false;
        }
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            if (value.isEmpty() || value.size() > 18
                || !std::all_of(value.cbegin(), value.cend(), isDigit))
                return false;
            const qint64 length = value.toLongLong();
            if (m_contentLength >= 0 && m_contentLength != length)
                return false;
            m_contentLength = length;
        }
    }
    return true;
}

bool KelpHttpRequestHeader::parseRequestLine(const QByteArray &line)
{
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || !isToken(parts.at(0)) || parts.at(1).isEmpty())
        return false;
    if (std::any_of(parts.at(1).cbegin(), parts.at(1).cend(), isControl))
        return false;
    const QByteArray &version = parts.at(2);
    if (version.size() != 8 || !version.startsWith("HTTP/") || !isDigit(version.at(5))
        || version.at(6) != '.' || !isDigit(version.at(7)))
        return false;
    m_method = parts.at(0);
    return true;
}
