#include "kelpDocuments.h"

#include <QCryptographicHash>
#include <QList>

namespace {

// Scripts and styles only from the page's own files, and the page in no other site's frame.
constexpr char Policy[] = "default-src 'self'; base-uri 'none'; form-action 'self'; "
                          "frame-ancestors 'none'";

bool matches(QByteArrayView ifNoneMatch, const QByteArray &etag)
{
    for (const QByteArray &tag : ifNoneMatch.toByteArray().split(',')) {
        const QByteArray trimmed = tag.trimmed();
        // A weak validator names the same bytes here: every document is served whole.
        if (trimmed == "*" || trimmed == etag || trimmed == "W/" + etag)
            return true;
    }
    return false;
}

} // namespace

void KelpDocuments::add(
    const QByteArray &path, const QByteArray &contentType, const QByteArray &bytes)
{
    const QByteArray digest = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    documents.insert(path, { contentType, bytes, '"' + digest.first(12).toHex() + '"' });
}

KelpDocuments::Response KelpDocuments::answer(
    QByteArrayView method, QByteArrayView target, QByteArrayView ifNoneMatch) const
{
    const qsizetype query = target.indexOf('?');
    const auto found
        = documents.constFind((query < 0 ? target : target.first(query)).toByteArray());
    if (found == documents.cend())
        return { "404 Not Found", "Content-Length: 0\r\n", QByteArray() };
    const Document &document = *found;
    const QByteArray validators = "Cache-Control: no-cache\r\nETag: " + document.etag + "\r\n";
    if (!ifNoneMatch.isNull() && matches(ifNoneMatch, document.etag))
        return { "304 Not Modified", validators, QByteArray() };
    return { "200 Ok",
        "Content-Type: " + document.contentType + "\r\nContent-Length: "
            + QByteArray::number(document.bytes.size()) + "\r\n" + validators
            + "Content-Security-Policy: " + Policy + "\r\nX-Content-Type-Options: nosniff\r\n",
        method == "HEAD" ? QByteArray() : document.bytes };
}
