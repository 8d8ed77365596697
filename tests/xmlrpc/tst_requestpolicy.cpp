#include "kelpHostNames.h"
#include "kelpHttpRequestHeader.h"
#include "kelpRequestPolicy.h"

#include <QTest>

using Route = KelpRequestPolicy::Route;

class TestRequestPolicy : public QObject
{
    Q_OBJECT
private slots:
    void judge_data();
    void judge();
};

namespace {

constexpr qint64 MaxBodySize = 1000;

void row(const char *tag, const QByteArray &header, Route route, const QByteArray &status = {},
    const QString &reason = {}, const QByteArray &debugLine = {})
{
    QTest::newRow(tag) << header << int(route) << status << reason << debugLine;
}

QByteArray post(const QByteArray &fields)
{
    return "POST /RPC2 HTTP/1.1\r\n" + fields + "Content-Length: 5\r\n";
}

QString foreignHost(const char *name)
{
    return QStringLiteral("Host \"%1\" is not a name of this machine; add it to MONOPANEL_HOSTS "
                          "to accept calls addressed to it")
        .arg(QLatin1String(name));
}

QString foreignOrigin(const char *origin)
{
    return QStringLiteral("Origin \"%1\" is not this server; calls from web pages of other sites "
                          "are not answered")
        .arg(QLatin1String(origin));
}

} // namespace

void TestRequestPolicy::judge_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("route");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QByteArray>("debugLine");
    const QByteArray badRequest = "400 Bad Request";
    const QByteArray forbidden = "403 Forbidden";

    row("call", post({}), Route::Call);
    row("call from this server's page",
        post("Host: localhost:8086\r\nContent-Type: text/xml; charset=utf-8\r\n"
             "Origin: http://LOCALHOST:8086\r\n"),
        Route::Call);
    row("call as application/xml", post("Host: 127.0.0.1\r\nContent-Type: Application/XML\r\n"),
        Route::Call);
    row("call to a name the operator added", post("Host: panel.example:8086\r\n"), Route::Call);
    row("largest body", "POST / HTTP/1.1\r\nContent-Length: 1000\r\n", Route::Call);
    row("page", "GET /?from=bookmark HTTP/1.1\r\nHost: [::1]:8086\r\n", Route::Document);
    row("HEAD with an empty body", "HEAD / HTTP/1.0\r\nContent-Length: 0\r\n", Route::Document);

    row("no HTTP version", "POST /\r\n", Route::Refuse, badRequest, {}, "Invalid Header");
    row("folded field", "POST / HTTP/1.1\r\nA: b\r\n c\r\n", Route::Refuse, badRequest, {},
        "Invalid Header");
    row("conflicting lengths", "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n",
        Route::Refuse, badRequest, {}, "Invalid Header");
    row("length with sign", "POST / HTTP/1.1\r\nContent-Length: +1\r\n", Route::Refuse, badRequest,
        {}, "Invalid Header");
    row("length of 19 digits", "POST / HTTP/1.1\r\nContent-Length: 9223372036854775807\r\n",
        Route::Refuse, badRequest, {}, "Invalid Header");
    row("GET with a body", "GET / HTTP/1.1\r\nContent-Length: 3\r\n", Route::Refuse, badRequest);
    row("lower-case post", "post / HTTP/1.1\r\nContent-Length: 5\r\n", Route::Refuse,
        "405 Method Not Allowed", {}, "No Post!");
    row("no content length", "POST / HTTP/1.1\r\n", Route::Refuse, "411 Length Required", {},
        "No Content Length");
    row("empty body", "POST / HTTP/1.1\r\nContent-Length: 0\r\n", Route::Refuse,
        "411 Length Required", {}, "No Content Length");
    row("body too large", "POST / HTTP/1.1\r\nContent-Length: 1001\r\n", Route::Refuse,
        "413 Payload Too Large");
    row("page under another site's name", "GET / HTTP/1.1\r\nHost: evil.example\r\n", Route::Refuse,
        forbidden, foreignHost("evil.example"));

    row("form", post("Content-Type: text/plain\r\n"), Route::RefuseCall,
        "415 Unsupported Media Type",
        "Content-Type \"text/plain\" is not XML; send the call as text/xml, or without a "
        "Content-Type");
    row("another site's page", post("Host: 127.0.0.1:8086\r\nOrigin: http://evil.example\r\n"),
        Route::RefuseCall, forbidden, foreignOrigin("http://evil.example"));
    row("Origin without Host", post("Origin: http://localhost:8086\r\n"), Route::RefuseCall,
        forbidden, foreignOrigin("http://localhost:8086"));
    row("Origin on another port", post("Host: localhost\r\nOrigin: http://localhost:8086\r\n"),
        Route::RefuseCall, forbidden, foreignOrigin("http://localhost:8086"));
    row("another site's name for this machine",
        post("Host: Evil.example:8086\r\nOrigin: http://evil.example:8086\r\n"), Route::RefuseCall,
        forbidden, foreignHost("Evil.example"));
}

void TestRequestPolicy::judge()
{
    QFETCH(QByteArray, header);
    QFETCH(int, route);
    QFETCH(QByteArray, status);
    QFETCH(QString, reason);
    QFETCH(QByteArray, debugLine);
    KelpHostNames names;
    names.setAllowed({ QStringLiteral("panel.example") });
    const KelpRequestPolicy::Verdict verdict
        = KelpRequestPolicy::judge(KelpHttpRequestHeader(header + "\r\n"), names, MaxBodySize);
    QCOMPARE(int(verdict.route), route);
    QCOMPARE(verdict.status, status);
    QCOMPARE(verdict.reason, reason);
    QCOMPARE(QByteArray(verdict.debugLine), debugLine);
    QCOMPARE(verdict.fields,
        status.startsWith("405 ") ? QByteArray("Allow: GET, HEAD, POST\r\n") : QByteArray());
}

QTEST_GUILESS_MAIN(TestRequestPolicy)
#include "tst_requestpolicy.moc"
