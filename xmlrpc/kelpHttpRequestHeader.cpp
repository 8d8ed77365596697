#include "kelpHttpRequestHeader.h"

#include <QList>

#include <algorithm>
#include <cstring>

namespace {

bool isTokenChar(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
        || (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c));
}

bool isToken(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isTokenChar);
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

bool KelpHttpRequestHeader::keepsAlive() const
{
    return m_valid && !m_close && (!m_http10 || m_keepAlive);
}

bool KelpHttpRequestHeader::parse(QByteArrayView text)
{
    if (!text.endsWith('\n'))
        return false;
    // Drop the empty line that ends the section; every line left ends in a line feed.
    const QByteArrayView lines = text.chopped(text.endsWith("\r\n") ? 2 : 1);
    if (!lines.endsWith('\n'))
        return false;
    for (qsizetype start = 0; start < lines.size();) {
        const qsizetype end = lines.indexOf('\n', start);
        QByteArrayView line = lines.sliced(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        if (start == 0) {
            if (!parseRequestLine(line))
                return false;
        } else if (!parseFieldLine(line)) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

bool KelpHttpRequestHeader::parseRequestLine(QByteArrayView line)
{
    const qsizetype firstBlank = line.indexOf(' ');
    const qsizetype secondBlank = firstBlank < 0 ? -1 : line.indexOf(' ', firstBlank + 1);
    if (secondBlank < 0)
        return false;
    const QByteArrayView method = line.first(firstBlank);
    const QByteArrayView target = line.sliced(firstBlank + 1, secondBlank - firstBlank - 1);
    const QByteArrayView version = line.sliced(secondBlank + 1);
    if (!isToken(method) || target.isEmpty()
        || std::any_of(target.begin(), target.end(), isControl))
        return false;
    if (version.size() != 8 || !version.startsWith("HTTP/") || !isDigit(version.at(5))
        || version.at(6) != '.' || !isDigit(version.at(7)))
        return false;
    m_method = method.toByteArray();
    m_target = target.toByteArray();
    m_http10 = version.compare("HTTP/1.1") < 0;
    return true;
}

bool KelpHttpRequestHeader::parseFieldLine(QByteArrayView line)
{
    const qsizetype colon = line.indexOf(':');
    if (colon < 0 || !isToken(line.first(colon)))
        return false;
    const QByteArrayView value = line.sliced(colon + 1).trimmed();
    if (std::any_of(value.begin(), value.end(), [](char c) { return c != '\t' && isControl(c); }))
        return false;
    const QByteArrayView name = line.first(colon);
    if (name.compare("Host", Qt::CaseInsensitive) == 0) {
        if (!m_host.isNull())
            return false;
        m_host = value.isEmpty() ? QByteArray("") : value.toByteArray();
    } else if (name.compare("Origin", Qt::CaseInsensitive) == 0) {
        m_origin = value.isEmpty() ? QByteArray("") : value.toByteArray();
    } else if (name.compare("Content-Type", Qt::CaseInsensitive) == 0) {
        m_contentType = value.isEmpty() ? QByteArray("") : value.toByteArray();
    } else if (name.compare("If-None-Match", Qt::CaseInsensitive) == 0) {
        m_ifNoneMatch = value.isEmpty() ? QByteArray("") : value.toByteArray();
    } else if (name.compare("Connection", Qt::CaseInsensitive) == 0) {
        // A list of options, and the field may come more than once.
        for (const QByteArrayView option : value.toByteArray().split(',')) {
            m_close = m_close || option.trimmed().compare("close", Qt::CaseInsensitive) == 0;
            m_keepAlive
                = m_keepAlive || option.trimmed().compare("keep-alive", Qt::CaseInsensitive) == 0;
        }
    } else if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
        if (value.isEmpty() || value.size() > 18
            || !std::all_of(value.begin(), value.end(), isDigit))
            return false;
        const qint64 length = value.toLongLong();
        if (m_contentLength >= 0 && m_contentLength != length)
            return false;
        m_contentLength = length;
    }
    return true;
}
