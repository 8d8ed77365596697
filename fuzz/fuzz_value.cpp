// Reads the input as an XML-RPC document and checks that every value in it survives a second
// trip through the writer and the reader unchanged, that both readers of a call read what the
// writer wrote, and that a response document always reads as a result or a fault.

#include "kelpCodec.h"
#include "kelpFault.h"
#include "kelpPlainReader.h"

#include <QDomDocument>

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

// A call the writer writes reads back, through the plain reader where it takes the call and
// through the DOM, as the same call.
void checkReaders(const QVariant &value)
{
    const QString method = QStringLiteral("probe");
    const QByteArray written = KelpCodec::prepareCall(method, { value, value });
    QString readMethod;
    QVariantList readArgs;
    if (KelpPlainReader::readCall(written, &readMethod, &readArgs)
        && KelpCodec::prepareCall(readMethod, readArgs) != written)
        abort();
    QDomDocument document;
    if (KelpCodec::readDocument(written, &document) != KelpCodec::DocumentError::None
        || !KelpCodec::callFromDocument(document, &readMethod, &readArgs)
        || KelpCodec::prepareCall(readMethod, readArgs) != written)
        abort();
}

void checkRoundTrip(const QDomElement &element)
{
    const QVariant value = KelpCodec::fromXml(element);
    checkReaders(value);
    // Reading is allowed to lose things (unknown types, duplicate members); what has been
    // written once must come back exactly.
    const QByteArray written = KelpCodec::prepareResponse(value);
    const QVariant read = KelpCodec::readResponse(written);
    if (read.metaType() == QMetaType::fromType<KelpFault>()
        || KelpCodec::prepareResponse(read) != written)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(discardMessage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    KelpCodec::readResponse(input);
    QDomDocument document;
    if (KelpCodec::readDocument(input, &document) != KelpCodec::DocumentError::None)
        return 0;
    const QList<QDomElement> values = valueElements(document);
    for (const QDomElement &element : values)
        checkRoundTrip(element);
    return 0;
}
