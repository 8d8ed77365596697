#ifndef KELPDOCUMENTS_H
#define KELPDOCUMENTS_H

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

// The documents a server answers GET and HEAD with, beside its XML-RPC calls: a web page and
// its files, registered by path. Each goes out with fields that keep a browser from taking
// anything from elsewhere into it or reading it as another type, and that make it ask again
// each time, so that a new version of the program is seen at once; an unchanged document
// costs a 304 without its bytes.
class KelpDocuments
{
public:
    // What the server sends: the status line's code and reason, the fields of this response
    // and the body, empty for HEAD.
    struct Response
    {
        QByteArray status;
        QByteArray fields;
        QByteArray body;
    };

    // Every file below folder, a resource folder (":/page") or a directory, at its path below it
    // ("/panel.js"; "/" for index.html), of the content type its suffix names.
    void addFolder(const QString &folder);
    // The answer to a GET or HEAD of target, a path with or without a query; ifNoneMatch is
    // the request's If-None-Match field, null when absent.
    Response answer(QByteArrayView method, QByteArrayView target, QByteArrayView ifNoneMatch) const;

private:
    // path as a browser asks for it; contentType as it goes out ("text/html; charset=utf-8").
    void add(const QByteArray &path, const QByteArray &contentType, const QByteArray &bytes);

    struct Document
    {
        QByteArray contentType;
        QByteArray bytes;
        QByteArray etag;
    };

    QHash<QByteArray, Document> documents;
};

#endif // KELPDOCUMENTS_H
