#ifndef KELPDOCUMENT_H
#define KELPDOCUMENT_H

#include <QDomDocument>

namespace KelpDocument {

// A new XML-RPC document: empty but for its UTF-8 declaration.
inline QDomDocument create()
{
    QDomDocument document;
    document.appendChild(document.createProcessingInstruction(
        QStringLiteral("xml"), QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
    return document;
}

} // namespace KelpDocument

#endif // KELPDOCUMENT_H
