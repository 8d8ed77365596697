#ifndef KELPHTTPREQUESTHEADER_H
#define KELPHTTPREQUESTHEADER_H

#include <QByteArray>
#include <QByteArrayView>

// The header section of one HTTP request, parsed from its bytes up to and including the
// empty line that ends it.
//
// The header is valid when
// - the first line is the request line: a method (an HTTP token), one blank, a target
//   without blanks or control characters, one blank, and "HTTP/x.y" with one digit each;
// - every further line is a field line "Name: value": a token, a colon, then a value
//   without control characters other than tabs (blanks around the value are not part of it);
//   lines folded onto the next one are not accepted;
// - Content-Length, where present, is a non-negative decimal number of at most 18 digits,
//   the same each time it appears;
// - Host appears at most once.
// Lines end in CR LF or a lone LF.
class KelpHttpRequestHeader
{
public:
    KelpHttpRequestHeader() = default;
    explicit KelpHttpRequestHeader(const QByteArray &text);

    bool isValid() const { return m_valid; }
    QByteArray method() const { return m_method; }
    // The request target as sent, such as "/panel.js" or "/RPC2".
    QByteArray target() const { return m_target; }
    // -1 without a Content-Length field.
    qint64 contentLength() const { return m_contentLength; }
    // Whether the client means to send another request on the connection: HTTP/1.1 unless
    // it asks to close, HTTP/1.0 only when it asks to keep the connection alive.
    bool keepsAlive() const;
    bool isHttp10() const { return m_http10; }
    // The field values, null where the field is absent.
    QByteArray host() const { return m_host; }
    QByteArray origin() const { return m_origin; }
    QByteArray contentType() const { return m_contentType; }
    QByteArray ifNoneMatch() const { return m_ifNoneMatch; }

private:
    bool parse(QByteArrayView text);
    bool parseRequestLine(QByteArrayView line);
    bool parseFieldLine(QByteArrayView line);

    QByteArray m_method;
    QByteArray m_target;
    QByteArray m_host;
    QByteArray m_origin;
    QByteArray m_contentType;
    QByteArray m_ifNoneMatch;
    bool m_http10 = false;
    bool m_close = false;
    bool m_keepAlive = false;
    qint64 m_contentLength = -1;
    bool m_valid = false;
};

#endif // KELPHTTPREQUESTHEADER_H
