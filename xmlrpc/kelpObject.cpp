#include "kelpObject.h"

#include "kelpDocument.h"
#include "kelpPlainXml.h"

#include <QDateTime>
#include <QDebug>
#include <QDomDocument>
#include <QXmlStreamReader>

#include <utility>

namespace {

// Each level of arrays or structs takes three elements (value, array, data or value,
// struct, member); the envelope and a scalar's type element add a few more. Any deeper
// element is refused before the DOM, which frees its nodes recursively, grows that deep.
constexpr int MaxDocumentDepth = 3 * KelpObject::MaxNestingDepth + 8;

// Never a null string: a null result would be answered as "no result".
QString nonNull(const QString &text)
{
    return text.isNull() ? QString(QLatin1String("")) : text;
}

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
KelpObject::DocumentError buildDocument(
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
            OpenElement child;
            child.isContainer
                = lowered == QLatin1String("array") || lowered == QLatin1String("struct");
            child.keepsBlanks = lowered == QLatin1String("value")
                || lowered == QLatin1String("string") || lowered == QLatin1String("name");
            if (open.size() == MaxDocumentDepth
                || (child.isContainer && nesting == KelpObject::MaxNestingDepth)) {
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
        return KelpObject::DocumentError::NestedTooDeep;
    if (!reader.hasError() && built.documentElement().isNull())
        reader.raiseError(QStringLiteral("no document element"));
    if (reader.hasError()) {
        if (errorString)
            *errorString = reader.errorString();
        if (errorLine)
            *errorLine = int(reader.lineNumber());
        return KelpObject::DocumentError::NotWellFormed;
    }
    *document = built;
    return KelpObject::DocumentError::None;
}

} // namespace

KelpObject::KelpObject(QObject *parent)
    : QObject(parent)
{
    QDomImplementation::setInvalidDataPolicy(QDomImplementation::DropInvalidChars);
}

QString KelpObject::prepareCall(const QString &method, const QVariantList &args)
{
    QByteArray plain;
    if (KelpPlainXml::writeCall(method, args, &plain))
        return QString::fromLatin1(plain);
    QDomDocument document = KelpDocument::create();
    QDomElement call = document.createElement(QStringLiteral("methodCall"));
    document.appendChild(call);
    QDomElement name = document.createElement(QStringLiteral("methodName"));
    call.appendChild(name);
    name.appendChild(document.createTextNode(method));
    QDomElement params = document.createElement(QStringLiteral("params"));
    call.appendChild(params);
    for (const QVariant &arg : args) {
        QDomElement param = document.createElement(QStringLiteral("param"));
        params.appendChild(param);
        param.appendChild(toXml(arg));
    }
    return document.toString(1);
}

QString KelpObject::prepareResponse(const QVariant &result)
{
    QByteArray plain;
    if (KelpPlainXml::writeResponse(isNullResult(result) ? QVariant() : result, &plain))
        return QString::fromLatin1(plain);
    QDomDocument document = KelpDocument::create();
    QDomElement response = document.createElement(QStringLiteral("methodResponse"));
    document.appendChild(response);
    QDomElement params = document.createElement(QStringLiteral("params"));
    response.appendChild(params);
    if (!isNullResult(result)) {
        QDomElement param = document.createElement(QStringLiteral("param"));
        params.appendChild(param);
        param.appendChild(toXml(result));
    }
    return document.toString(1);
}

QDomElement KelpObject::toXml(const QVariant &value)
{
    QDomDocument scratch;
    return valueElement(scratch, value);
}

QDomElement KelpObject::valueElement(QDomDocument &document, const QVariant &value)
{
    QDomElement element = document.createElement(QStringLiteral("value"));
    const auto appendTyped = [&](const QString &type, const QString &text) {
        QDomElement typed = document.createElement(type);
        element.appendChild(typed);
        typed.appendChild(document.createTextNode(text));
    };
    switch (value.typeId()) {
    case QMetaType::Bool:
        appendTyped(
            QStringLiteral("boolean"), value.toBool() ? QStringLiteral("1") : QStringLiteral("0"));
        break;
    case QMetaType::Int:
        appendTyped(QStringLiteral("int"), QString::number(value.toInt()));
        break;
    case QMetaType::Double:
        appendTyped(QStringLiteral("double"), QString::number(value.toDouble(), 'g', 6));
        break;
    case QMetaType::QString:
        appendTyped(QStringLiteral("string"), value.toString());
        break;
    case QMetaType::QByteArray:
        appendTyped(QStringLiteral("base64"), QString::fromLatin1(value.toByteArray().toBase64()));
        break;
    case QMetaType::QDateTime:
        // Standard clients know only this spelling; the reader accepts any case.
        appendTyped(QStringLiteral("dateTime.iso8601"),
            value.toDateTime().toString(QLatin1String(KelpDocument::DateTimeFormat)));
        break;
    case QMetaType::QVariantList: {
        QDomElement array = document.createElement(QStringLiteral("array"));
        QDomElement data = document.createElement(QStringLiteral("data"));
        array.appendChild(data);
        element.appendChild(array);
        const QVariantList list = value.toList();
        for (const QVariant &item : list)
            data.appendChild(valueElement(document, item));
        break;
    }
    case QMetaType::QVariantMap: {
        QDomElement structElement = document.createElement(QStringLiteral("struct"));
        element.appendChild(structElement);
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            QDomElement member = document.createElement(QStringLiteral("member"));
            QDomElement name = document.createElement(QStringLiteral("name"));
            structElement.appendChild(member);
            member.appendChild(name);
            name.appendChild(document.createTextNode(it.key()));
            member.appendChild(valueElement(document, it.value()));
        }
        break;
    }
    default:
        qDebug("Failed to marshal unknown variant type: %s",
            value.isValid() ? value.typeName() : "Invalid");
        return QDomElement();
    }
    return element;
}

QVariant KelpObject::fromXml(const QDomElement &element)
{
    return fromXml(element, 0);
}

QVariant KelpObject::fromXml(const QDomElement &element, int nesting)
{
    if (element.tagName().toLower() != QLatin1String("value"))
        return QVariant();
    const QDomNode typeNode = element.firstChild();
    if (!typeNode.isElement())
        return nonNull(element.text());
    const QDomElement typed = typeNode.toElement();
    const QString type = typed.tagName().toLower();
    if (type == QLatin1String("array") || type == QLatin1String("struct")) {
        if (nesting == MaxNestingDepth) {
            qDebug("Cannot demarshal values nested more than %d deep", MaxNestingDepth);
            return QVariant();
        }
        if (type == QLatin1String("array")) {
            QVariantList list;
            const QDomNode data = typed.firstChild();
            for (QDomNode item = data.firstChild(); !item.isNull(); item = item.nextSibling())
                list.append(fromXml(item.toElement(), nesting + 1));
            return list;
        }
        QVariantMap map;
        for (QDomNode member = typed.firstChild(); !member.isNull();
             member = member.nextSibling()) {
            const QDomElement memberElement = member.toElement();
            map.insert(firstDescendant(memberElement, QStringLiteral("name")).text(),
                fromXml(firstDescendant(memberElement, QStringLiteral("value")), nesting + 1));
        }
        return map;
    }
    const QVariant scalar = KelpPlainXml::scalarValue(type, nonNull(typed.text()));
    if (!scalar.isValid() && type != QLatin1String("nil"))
        qDebug().noquote().nospace() << "Cannot demarshal unknown type \"" << type << '"';
    return scalar;
}

KelpObject::DocumentError KelpObject::readDocument(
    const QByteArray &data, QDomDocument *document, QString *errorString, int *errorLine)
{
    QXmlStreamReader reader(data);
    return buildDocument(reader, document, errorString, errorLine);
}

KelpObject::DocumentError KelpObject::readDocument(
    const QString &text, QDomDocument *document, QString *errorString, int *errorLine)
{
    QXmlStreamReader reader(text);
    return buildDocument(reader, document, errorString, errorLine);
}

void KelpObject::parseResponse(const QString &response, QNetworkReply *reply)
{
    QXmlStreamReader reader(response);
    announce(reader, reply);
}

void KelpObject::parseResponseData(const QByteArray &response, QNetworkReply *reply)
{
    QXmlStreamReader reader(response);
    announce(reader, reply);
}

void KelpObject::reportFault(int faultCode, const QString &faultString, QNetworkReply *reply)
{
    emit fault(faultCode, faultString, reply);
    delete this;
}

void KelpObject::announce(QXmlStreamReader &reader, QNetworkReply *reply)
{
    QDomDocument document;
    QString errorString;
    int errorLine = 0;
    switch (buildDocument(reader, &document, &errorString, &errorLine)) {
    case DocumentError::NotWellFormed:
        emit fault(-32700,
            QStringLiteral("parse error: response not well formed at line %1: %2")
                .arg(QString::number(errorLine), errorString),
            reply);
        break;
    case DocumentError::NestedTooDeep:
        emit fault(
            NestedTooDeepFault, tr("parse error: invalid xml-rpc. values nested too deep."), reply);
        break;
    case DocumentError::None:
        announceResponse(document, reply);
        break;
    }
    delete this;
}

void KelpObject::announceResponse(const QDomDocument &document, QNetworkReply *reply)
{
    const QDomNode first = document.documentElement().firstChild();
    const QString name = first.nodeName().toLower();
    if (name == QLatin1String("params")) {
        const QDomNode param = first.firstChild();
        QVariant result = param.isNull() ? QVariant() : fromXml(param.firstChild().toElement());
        emit aresponse(result, reply);
    } else if (name == QLatin1String("fault")) {
        const QVariantMap map = fromXml(first.firstChild().toElement()).toMap();
        emit fault(map.value(QStringLiteral("faultCode")).toInt(),
            map.value(QStringLiteral("faultString")).toString(), reply);
    } else {
        emit fault(-32600, tr("parse error: invalid xml-rpc. not conforming to spec."), reply);
    }
}
