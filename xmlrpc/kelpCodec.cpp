#include "kelpCodec.h"

#include "kelpFault.h"
#include "kelpLog.h"
#include "kelpPlainReader.h"
#include "kelpValueType.h"
#include "kelpWriter.h"

#include <QDateTime>
#include <QDebug>
#include <QDomDocument>
#include <QXmlStreamReader>

#include <utility>

namespace {

// Each level of arrays or structs takes three elements (value, array, data or value,
// struct, member); the envelope and a scalar's type element add a few more. Any deeper
// element is refused before the DOM, which frees its nodes recursively, grows that deep.
constexpr int MaxDocumentDepth = 3 * KelpValueType::MaxNestingDepth + 8;

bool isNullResult(const QVariant &result)
{
    switch (result.typeId()) {
    case QMetaType::QString:
        return result.toString().isNull();
    case QMetaType::QByteArray:
        return result.toByteArray().isNull();
    // An invalid moment is written as an empty dateTime, which reads back as a null one:
    // neither is a result, or the same value would answer differently the second time.
    case QMetaType::QDateTime:
        return !result.toDateTime().isValid();
    default:
        return !result.isValid();
    }
}

bool isFault(const QVariant &value)
{
    return value.metaType() == QMetaType::fromType<KelpFault>();
}

// The first element called name below root, in document order.
QDomElement firstDescendant(const QDomElement &root, const QString &name)
{
    QDomNode node = root.firstChild();
    while (!node.isNull()) {
        if (node.isElement() && node.nodeName() == name)
            return node.toElement();
        if (node.hasChildNodes()) {
            node = node.firstChild();
            continue;
        }
        while (node.nextSibling().isNull()) {
            node = node.parentNode();
            if (node == root)
                return QDomElement();
        }
        node = node.nextSibling();
    }
    return QDomElement();
}

struct OpenElement
{
    QDomElement element;
    QList<QDomNode> blankText;
    bool hasElementChild = false;
    bool isContainer = false;
    bool keepsBlanks = false;
};

// QDomDocument::setContent() would expand entities declared in a DTD, build any depth of
// elements and turn a string of blanks into an empty one, so the DOM is built here from
// the reader.
KelpCodec::DocumentError buildDocument(
    QXmlStreamReader &reader, QDomDocument *document, QString *errorString, int *errorLine)
{
    reader.setNamespaceProcessing(false);
    QDomDocument built;
    QList<OpenElement> open;
    int nesting = 0;
    bool tooDeep = false;
    while (!reader.atEnd() && !reader.hasError() && !tooDeep) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            reader.raiseError(QStringLiteral("document type declarations are not accepted"));
            break;
        case QXmlStreamReader::StartElement: {
            const QString name = reader.qualifiedName().toString();
            const QString lowered = name.toLower();
            const KelpValueType *type = KelpValueType::namedInAnyCase(name);
            const KelpValueType::Form form = type ? type->form : KelpValueType::Form::Nil;
            OpenElement child;
            child.isContainer
                = form == KelpValueType::Form::Array || form == KelpValueType::Form::Struct;
            child.keepsBlanks = form == KelpValueType::Form::Text
                || lowered == QLatin1String("value") || lowered == QLatin1String("name");
            if (open.size() == MaxDocumentDepth
                || (child.isContainer && nesting == KelpValueType::MaxNestingDepth)) {
                tooDeep = true;
                break;
            }
            child.element = built.createElement(name);
            if (open.isEmpty()) {
                built.appendChild(child.element);
            } else {
                OpenElement &parent = open.last();
                // Blanks between elements are layout, not content.
                for (const QDomNode &blank : std::as_const(parent.blankText))
                    parent.element.removeChild(blank);
                parent.blankText.clear();
                parent.hasElementChild = true;
                parent.element.appendChild(child.element);
            }
            if (child.isContainer)
                ++nesting;
            open.append(child);
            break;
        }
        case QXmlStreamReader::EndElement:
            if (open.takeLast().isContainer)
                --nesting;
            break;
        case QXmlStreamReader::Characters: {
            if (open.isEmpty())
                break;
            OpenElement &parent = open.last();
            const bool blank = reader.isWhitespace();
            if (blank && (parent.hasElementChild || !parent.keepsBlanks))
                break;
            const QDomNode text = reader.isCDATA()
                ? QDomNode(built.createCDATASection(reader.text().toString()))
                : QDomNode(built.createTextNode(reader.text().toString()));
            parent.element.appendChild(text);
            if (blank)
                parent.blankText.append(text);
            break;
        }
        case QXmlStreamReader::Comment: {
            const QDomComment comment = built.createComment(reader.text().toString());
            if (open.isEmpty())
                built.appendChild(comment);
            else
                open.last().element.appendChild(comment);
            break;
        }
        case QXmlStreamReader::ProcessingInstruction: {
            const QDomProcessingInstruction instruction
                = built.createProcessingInstruction(reader.processingInstructionTarget().toString(),
                    reader.processingInstructionData().toString());
            if (open.isEmpty())
                built.appendChild(instruction);
            else
                open.last().element.appendChild(instruction);
            break;
        }
        default:
            break;
        }
    }
    if (tooDeep)
        return KelpCodec::DocumentError::NestedTooDeep;
    if (!reader.hasError() && built.documentElement().isNull())
        reader.raiseError(QStringLiteral("no document element"));
    if (reader.hasError()) {
        if (errorString)
            *errorString = reader.errorString();
        if (errorLine)
            *errorLine = int(reader.lineNumber());
        return KelpCodec::DocumentError::NotWellFormed;
    }
    *document = built;
    return KelpCodec::DocumentError::None;
}

QVariant valueOf(const QDomElement &element, int nesting)
{
    if (element.tagName().toLower() != QLatin1String("value"))
        return QVariant();
    const QDomNode typeNode = element.firstChild();
    if (!typeNode.isElement())
        return KelpValueType::untyped(element.text());
    const QDomElement typed = typeNode.toElement();
    const KelpValueType *type = KelpValueType::namedInAnyCase(typed.tagName());
    if (!type) {
        qCDebug(lcHttp).noquote().nospace()
            << "Cannot demarshal unknown type \"" << typed.tagName().toLower() << '"';
        return QVariant();
    }
    if (type->read)
        return type->fromText(typed.text());
    if (type->form == KelpValueType::Form::Nil)
        return QVariant();
    if (nesting == KelpValueType::MaxNestingDepth) {
        qCDebug(lcHttp, "Cannot demarshal values nested more than %d deep",
            KelpValueType::MaxNestingDepth);
        return QVariant();
    }
    if (type->form == KelpValueType::Form::Array) {
        QVariantList list;
        const QDomNode data = typed.firstChild();
        for (QDomNode item = data.firstChild(); !item.isNull(); item = item.nextSibling())
            list.append(valueOf(item.toElement(), nesting + 1));
        return list;
    }
    QVariantMap map;
    for (QDomNode member = typed.firstChild(); !member.isNull(); member = member.nextSibling()) {
        const QDomElement memberElement = member.toElement();
        map.insert(firstDescendant(memberElement, QStringLiteral("name")).text(),
            valueOf(firstDescendant(memberElement, QStringLiteral("value")), nesting + 1));
    }
    return map;
}

} // namespace

QByteArray KelpCodec::prepareCall(const QString &method, const QVariantList &args)
{
    KelpWriter writer;
    writer.open(0, "methodCall");
    writer.element(1, "methodName", method);
    writer.params(1, args);
    writer.close(0, "methodCall");
    return writer.document();
}

QByteArray KelpCodec::prepareResponse(const QVariant &result)
{
    if (isFault(result))
        return prepareFault(result.value<KelpFault>());
    KelpWriter writer;
    writer.open(0, "methodResponse");
    writer.params(1, isNullResult(result) ? QVariantList() : QVariantList { result });
    writer.close(0, "methodResponse");
    return writer.document();
}

QByteArray KelpCodec::prepareFault(const KelpFault &fault)
{
    KelpWriter writer;
    writer.open(0, "methodResponse");
    writer.open(1, "fault");
    writer.value(2, fault.faultMap());
    writer.close(1, "fault");
    writer.close(0, "methodResponse");
    return writer.document();
}

bool KelpCodec::readCall(
    const QByteArray &body, QString *method, QVariantList *args, KelpFault *fault)
{
    if (KelpPlainReader::readCall(body, method, args))
        return true;
    QDomDocument document;
    switch (readDocument(body, &document)) {
    case DocumentError::NotWellFormed:
        *fault = KelpFault::notWellFormed();
        return false;
    case DocumentError::NestedTooDeep:
        *fault = KelpFault::nestedTooDeep();
        return false;
    case DocumentError::None:
        break;
    }
    if (!callFromDocument(document, method, args)) {
        *fault = KelpFault::notConforming();
        return false;
    }
    return true;
}

bool KelpCodec::callFromDocument(const QDomDocument &document, QString *method, QVariantList *args)
{
    const QDomElement root = document.documentElement();
    const QDomElement methodName = root.firstChildElement(QStringLiteral("methodName"));
    if (methodName.isNull())
        return false;
    *method = methodName.text();
    args->clear();
    // Each child of "params" is taken as a "param" whose first child is its "value".
    const QDomElement params = root.firstChildElement(QStringLiteral("params"));
    for (QDomNode param = params.firstChild(); !param.isNull(); param = param.nextSibling())
        args->append(fromXml(param.firstChild().toElement()));
    return true;
}

QVariant KelpCodec::readResponse(const QByteArray &response)
{
    QDomDocument document;
    QString errorString;
    int errorLine = 0;
    switch (readDocument(response, &document, &errorString, &errorLine)) {
    case DocumentError::NotWellFormed:
        return QVariant::fromValue(KelpFault::responseNotWellFormed(errorLine, errorString));
    case DocumentError::NestedTooDeep:
        return QVariant::fromValue(KelpFault::responseNestedTooDeep());
    case DocumentError::None:
        break;
    }
    const QDomNode first = document.documentElement().firstChild();
    const QString name = first.nodeName().toLower();
    if (name == QLatin1String("params")) {
        const QDomNode param = first.firstChild();
        return param.isNull() ? QVariant() : fromXml(param.firstChild().toElement());
    }
    if (name == QLatin1String("fault")) {
        const QVariantMap map = fromXml(first.firstChild().toElement()).toMap();
        return QVariant::fromValue(KelpFault(map.value(QStringLiteral("faultCode")).toInt(),
            map.value(QStringLiteral("faultString")).toString()));
    }
    return QVariant::fromValue(KelpFault::responseNotConforming());
}

KelpCodec::DocumentError KelpCodec::readDocument(
    const QByteArray &data, QDomDocument *document, QString *errorString, int *errorLine)
{
    QXmlStreamReader reader(data);
    return buildDocument(reader, document, errorString, errorLine);
}

QVariant KelpCodec::fromXml(const QDomElement &element)
{
    return valueOf(element, 0);
}

QString KelpCodec::typeName(QMetaType type)
{
    const KelpValueType *carrier = KelpValueType::carrying(type);
    return carrier ? QString(carrier->name) : QString();
}
