#include "kelpDocuments.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QList>

namespace {

// Scripts and styles only from the page's own files, and the page in no other site's frame.
constexpr char Policy[] = "default-src 'self'; base-uri 'none'; form-action 'self'; "
                          "frame-ancestors 'none'";

// By suffix: told nosniff, a browser takes a script or a style only under its own type.
struct ContentType
{
    const char *suffix;
    const char *type;
};
const ContentType contentTypes[] = {
    { "html", "text/html; charset=utf-8" },
    { "css", "text/css; charset=utf-8" },
    { "js", "text/javascript; charset=utf-8" },
    { "svg", "image/svg+xml" },
};

QByteArray contentTypeOf(const QString &file)
{
    const QString suffix = QFileInfo(file).suffix().toLower();
    for (const ContentType &type : contentTypes) {
        if (suffix == QLatin1String(type.suffix))
            return type.type;
    }
    return "application/octet-stream";
}

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

void KelpDocuments::addFolder(const QString &folder)
{
    const QDir root(folder);
    QDirIterator files(folder, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QString path = u'/' + root.relativeFilePath(file.fileName());
        // A folder's page is asked for by the folder's path.
        const QLatin1String page("/index.html");
        if (path.endsWith(page))
            path.chop(page.size() - 1);
        add(path.toUtf8(), contentTypeOf(file.fileName()), file.readAll());
    }
}

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
