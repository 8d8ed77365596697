#ifndef KELPDOCUMENT_H
#define KELPDOCUMENT_H

#include <QDomDocument>

namespace KelpDocument {

// How date-times are written, and read in any case.
inline constexpr char DateTimeFormat[] = "yyyyMMdd'T'hh:mm:ss";

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
