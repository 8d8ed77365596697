#include "panelrequest.h"

QString PanelRequest::describe() const
{
    switch (kind) {
    case Kind::Wavelength:
        return QStringLiteral("Wavelength %1 nm").arg(value);
    case Kind::MoveRelative:
        return QStringLiteral("MoveRelative %1 steps").arg(value);
    case Kind::EntranceSlit:
        return QStringLiteral("EntranceSlit %1 steps").arg(value);
    case Kind::ExitSlit:
        return QStringLiteral("ExitSlit %1 steps").arg(value);
    case Kind::Grating:
        return QStringLiteral("Grating %1").arg(value);
    case Kind::Connect:
        return QStringLiteral("Connect");
    case Kind::Close:
        return QStringLiteral("Close");
    }
    return QString();
}
