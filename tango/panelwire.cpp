#include "panelwire.h"

#include "remotecontract.h"

#include <cmath>

namespace PanelWire {

namespace {

namespace Method = RemoteContract::Method;
namespace StateName = RemoteContract::StateName;
namespace Key = RemoteContract::Key;
namespace Limit = RemoteContract::Limit;

QLatin1String methodFor(PanelRequest::Kind kind)
{
    switch (kind) {
    case PanelRequest::Kind::Wavelength:
        return Method::setWavelength;
    case PanelRequest::Kind::MoveRelative:
        return Method::moveRelative;
    case PanelRequest::Kind::EntranceSlit:
        return Method::setInSlit;
    case PanelRequest::Kind::ExitSlit:
        return Method::setOutSlit;
    case PanelRequest::Kind::Grating:
        return Method::setGrating;
    case PanelRequest::Kind::Connect:
        return Method::connect;
    case PanelRequest::Kind::Close:
        return Method::close;
    }
    return QLatin1String();
}

// The panel's types are strict: the wavelength is a double, everything else an int.
QVariantList argumentsFor(const PanelRequest &request)
{
    switch (request.kind) {
    case PanelRequest::Kind::Wavelength:
        return { request.value };
    case PanelRequest::Kind::Connect:
    case PanelRequest::Kind::Close:
        return {};
    default:
        return { static_cast<int>(std::lround(request.value)) };
    }
}

PanelSnapshot::State deviceState(const QString &name)
{
    using State = PanelSnapshot::State;
    if (name == StateName::ready)
        return State::On;
    if (name == StateName::busy || name == StateName::readingBack)
        return State::Moving;
    if (name == StateName::wakingUp)
        return State::Init;
    if (name == StateName::closed)
        return State::Off;
    // The faults, and any state this server does not know.
    return State::Fault;
}

QVariantMap call(QLatin1String method, const QVariantList &params = {})
{
    return { { QStringLiteral("methodName"), method }, { QStringLiteral("params"), params } };
}

} // namespace

QVariantMap getState()
{
    return call(Method::getState);
}

QVariantMap getLimits()
{
    return call(Method::getLimits);
}

QVariantMap callFor(const PanelRequest &request)
{
    return call(methodFor(request.kind), argumentsFor(request));
}

bool isState(const QVariant &answer)
{
    return answer.typeId() == QMetaType::QVariantMap
        && answer.toMap().value(Key::state).typeId() == QMetaType::QString;
}

PanelState stateOf(const QVariantMap &answer)
{
    const QString name = answer.value(Key::state).toString();
    PanelState state;
    state.state = deviceState(name);
    state.readingBack = name == StateName::readingBack;
    state.text = answer.value(Key::text).toString();
    state.reason = answer.value(Key::reason).toString();
    state.readBacks = answer.value(Key::readBacks).toInt();
    state.offersConnect
        = answer.value(Key::accepts).toMap().value(RemoteContract::Accepts::connect).toBool();
    state.wavelength = answer.value(Key::wavelength).toDouble();
    state.position = answer.value(Key::position).toInt();
    state.inSlit = answer.value(Key::inSlit).toInt();
    state.outSlit = answer.value(Key::outSlit).toInt();
    state.grating = answer.value(Key::grating).toInt();
    return state;
}

std::optional<PanelLimits> limitsOf(const QVariant &answer)
{
    const QVariantMap limits = answer.toMap();
    bool valid = true;
    const auto range = [&](QLatin1String name) {
        const QVariantMap limit = limits.value(name).toMap();
        bool hasMinimum = false;
        bool hasMaximum = false;
        const PanelLimits::Range range { limit.value(Limit::minimum).toDouble(&hasMinimum),
            limit.value(Limit::maximum).toDouble(&hasMaximum) };
        // Tango refuses an empty range.
        valid = valid && hasMinimum && hasMaximum && range.minimum < range.maximum;
        return range;
    };
    const PanelLimits told { range(Limit::wavelength), range(Limit::slit), range(Limit::grating) };
    return valid ? std::optional<PanelLimits>(told) : std::nullopt;
}

QVariant resultOf(const QVariant &answer)
{
    const QVariantList list = answer.toList();
    return answer.typeId() == QMetaType::QVariantList && list.size() == 1 ? list.constFirst()
                                                                          : QVariant();
}

QString verdictOf(const QVariant &answer)
{
    const QVariant result = resultOf(answer);
    if (result.typeId() != QMetaType::QString)
        return QString();
    const QString verdict = result.toString();
    return verdict.isNull() ? QStringLiteral("") : verdict;
}

bool isOutOfRange(const QString &verdict)
{
    return verdict.contains(QLatin1String(" refused: outside "));
}

QString faultOf(const QVariant &answer)
{
    const QVariantMap fault = answer.toMap();
    if (!fault.contains(QStringLiteral("faultCode")))
        return QString();
    return QStringLiteral("%1 (%2)").arg(fault.value(QStringLiteral("faultString")).toString(),
        fault.value(QStringLiteral("faultCode")).toString());
}

} // namespace PanelWire
