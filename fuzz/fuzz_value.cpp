// Reads the input as an XML-RPC document and checks that every value in it survives a second
// trip through the writer and the reader unchanged, that the plain writer writes it byte for
// byte as the DOM does, and that a response document always yields exactly one outcome on the
// client side.

#include "domoracle.h"
#include "kelpObject.h"
#include "kelpPlainXml.h"

#include <QDomDocument>
#include <QPointer>

#include <cstdint>
#include <cstdlib>

namespace {

void discardMessage(QtMsgType, const QMessageLogContext &, const QString &) { }

// The reader compares type names without regard to case, so "VALUE" is a value too.
QList<QDomElement> valueElements(const QDomDocument &document)
{
    QList<QDomElement> found;
    QList<QDomElement> pending { document.documentElement() };
    while (!pending.isEmpty()) {
        const QDomElement element = pending.takeLast();
        if (element.tagName().toLower() == QLatin1String("value"))
            found.append(element);
        for (QDomElement child = element.firstChildElement(); !child.isNull();
             child = child.nextSiblingElement())
            pending.append(child);
    }
    return found;
}

// The value that a response document written by prepareResponse() carries.
QVariant responseValue(const QByteArray &response)
{
    QDomDocument document;
    if (KelpObject::readDocument(response, &document) != KelpObject::DocumentError::None)
        abort();
    const QDomElement param = document.documentElement()
                                  .firstChildElement(QStringLiteral("params"))
                                  .firstChildElement(QStringLiteral("param"));
    return KelpObject::fromXml(param.firstChildElement(QStringLiteral("value")));
}

// Where the plain writer takes a value, it must write what the DOM writes, and a call it
// writes must read back as the same call where the plain reader takes it.
void checkPlainWriter(const QVariant &value)
{
    if (!value.isValid())
        return;
    QByteArray plain;
    if (KelpPlainXml::writeResponse(value, &plain)
        && plain != domDocument(QStringLiteral("methodResponse"), QString(), { value }).toUtf8())
        abort();
    const QString method = QStringLiteral("probe");
    const QVariantList args { value, value };
    if (!KelpPlainXml::writeCall(method, args, &plain))
        return;
    if (plain != domDocument(QStringLiteral("methodCall"), method, args).toUtf8())
        abort();
    QString readMethod;
    QVariantList readArgs;
    if (KelpPlainXml::readCall(plain, &readMethod, &readArgs)
        && KelpObject::prepareCall(readMethod, readArgs).toUtf8() != plain)
        abort();
}

void checkRoundTrip(const QDomElement &element)
{
    const QVariant value = KelpObject::fromXml(element);
    checkPlainWriter(value);
    // Reading is allowed to lose things (six significant digits, unknown types, duplicate
    // members); what has been written once must come back exactly.
    const QByteArray written = KelpObject::prepareResponse(value).toUtf8();
    const QByteArray rewritten = KelpObject::prepareResponse(responseValue(written)).toUtf8();
    if (rewritten != written)
        abort();
}

void checkClientOutcome(const QByteArray &data)
{
    int outcomes = 0;
    QPointer<KelpObject> callObject = new KelpObject;
    QObject::connect(callObject, &KelpObject::aresponse, [&outcomes] { ++outcomes; });
    QObject::connect(callObject, &KelpObject::fault, [&outcomes] { ++outcomes; });
    callObject->parseResponseData(data, nullptr);
    if (outcomes != 1 || callObject)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(discardMessage);
    // A call object switches every later document to dropping characters that XML cannot
    // carry; make that so from the first input on, as in a client process.
    KelpObject policy;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    checkClientOutcome(input);
    QDomDocument document;
    if (KelpObject::readDocument(input, &document) != KelpObject::DocumentError::None)
        return 0;
    const QList<QDomElement> values = valueElements(document);
    for (const QDomElement &element : values)
        checkRoundTrip(element);
    return 0;
}
