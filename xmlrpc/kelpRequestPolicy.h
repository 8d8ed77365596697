#ifndef KELPREQUESTPOLICY_H
#define KELPREQUESTPOLICY_H

#include <QByteArray>
#include <QString>

class KelpHostNames;
class KelpHttpRequestHeader;

// What a server does with a request, judged from its header alone: answers a GET or HEAD from
// its documents, answers the XML-RPC call that a POST carries, or refuses the request. A
// refusal closes the connection.
//
// Refused at once: a malformed header, a GET or HEAD with a body (400), a method other than
// GET, HEAD and POST (405), a POST without a Content-Length (411) or with a body over the
// limit (413), and a document asked for under a Host that is not a name of this machine (403).
// A call that a web page of another site may have sent is refused once its body has been read:
// a Content-Type other than text/xml or application/xml (415: a form or text/plain, which a
// browser posts anywhere without asking), an Origin that is not this server (403) and a Host
// that is not a name of this machine (403).
class KelpRequestPolicy
{
public:
    enum class Route {
        Document,
        Call,
        // The body is read first, so that the client gets the refusal rather than a reset.
        RefuseCall,
        Refuse,
    };

    struct Verdict
    {
        Route route;
        // Of a refusal: the status line's code and reason, and the fields it adds.
        QByteArray status;
        QByteArray fields;
        // Of a refusal that says why: the line that tells the client, also written as a
        // warning.
        QString reason;
        // What the server notes the request with, at debug level; null for nothing.
        const char *debugLine = nullptr;
    };

    // hostNames: the names under which this machine may be addressed; maxBodySize: the
    // longest body a call may announce.
    static Verdict judge(
        const KelpHttpRequestHeader &request, const KelpHostNames &hostNames, qint64 maxBodySize);
};

#endif // KELPREQUESTPOLICY_H
