#include "kelpRequestPolicy.h"

#include "kelpHostNames.h"
#include "kelpHttpRequestHeader.h"

namespace {

using Route = KelpRequestPolicy::Route;
using Verdict = KelpRequestPolicy::Verdict;

Verdict answered(Route route)
{
    return { route, QByteArray(), QByteArray(), QString() };
}

Verdict refusal(const QByteArray &status, const QByteArray &fields = QByteArray(),
    const char *debugLine = nullptr)
{
    return { Route::Refuse, status, fields, QString(), debugLine };
}

// Why a request's Host may be a name that another site gave this machine; empty when not.
QString foreignHost(const KelpHttpRequestHeader &request, const KelpHostNames &hostNames)
{
    const QByteArray addressed = request.host();
    if (addressed.isNull() || hostNames.admits(addressed))
        return QString();
    return QStringLiteral("Host \"%1\" is not a name of this machine; add it to MONOPANEL_HOSTS "
                          "to accept calls addressed to it")
        .arg(QString::fromLatin1(KelpHostNames::nameOf(addressed)));
}

// A call whose header is sound is refused when a web page of another site may have sent it.
Verdict foreignCall(const KelpHttpRequestHeader &request, const KelpHostNames &hostNames)
{
    const QByteArray type = request.contentType();
    const qsizetype parameters = type.indexOf(';');
    const QByteArray mediaType
        = (parameters < 0 ? type : type.first(parameters)).trimmed().toLower();
    if (!mediaType.isEmpty() && mediaType != "text/xml" && mediaType != "application/xml") {
        return { Route::RefuseCall, "415 Unsupported Media Type", QByteArray(),
            QStringLiteral("Content-Type \"%1\" is not XML; send the call as text/xml, or "
                           "without a Content-Type")
                .arg(QString::fromLatin1(type)) };
    }
    const QByteArray addressed = request.host();
    if (!request.origin().isNull()
        && (addressed.isNull() || !KelpHostNames::isSameOrigin(request.origin(), addressed))) {
        return { Route::RefuseCall, "403 Forbidden", QByteArray(),
            QStringLiteral("Origin \"%1\" is not this server; calls from web pages of other "
                           "sites are not answered")
                .arg(QString::fromLatin1(request.origin())) };
    }
    const QString foreign = foreignHost(request, hostNames);
    if (!foreign.isEmpty())
        return { Route::RefuseCall, "403 Forbidden", QByteArray(), foreign };
    return answered(Route::Call);
}

} // namespace

KelpRequestPolicy::Verdict KelpRequestPolicy::judge(
    const KelpHttpRequestHeader &request, const KelpHostNames &hostNames, qint64 maxBodySize)
{
    if (!request.isValid())
        return refusal("400 Bad Request", QByteArray(), "Invalid Header");
    if (request.method() == "GET" || request.method() == "HEAD") {
        if (request.contentLength() > 0)
            return refusal("400 Bad Request");
        // A page that another site has this machine's address answer under its own name could
        // read the instrument's page and its script: the Host rule of calls holds for
        // documents too.
        const QString foreign = foreignHost(request, hostNames);
        if (!foreign.isEmpty())
            return { Route::Refuse, "403 Forbidden", QByteArray(), foreign };
        return answered(Route::Document);
    }
    if (request.method() != "POST")
        return refusal("405 Method Not Allowed", "Allow: GET, HEAD, POST\r\n", "No Post!");
    if (request.contentLength() <= 0)
        return refusal("411 Length Required", QByteArray(), "No Content Length");
    if (request.contentLength() > maxBodySize)
        return refusal("413 Payload Too Large");
    return foreignCall(request, hostNames);
}
