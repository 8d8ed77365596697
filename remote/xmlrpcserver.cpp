#include "xmlrpcserver.h"

#include "eventlog.h"
#include "kelpDeferredResponse.h"
#include "kelpFault.h"
#include "kelpXmlRpcServer.h"
#include "monopanelversion.h"
#include "readywait.h"
#include "remoteaccess.h"
#include "remotecontract.h"
#include "remotelog.h"
#include "statename.h"
#include "triaxcontroller.h"
#include "triaxlimits.h"

#include <QLocale>
#include <QtDebug>

#include <algorithm>

// The resources of a static library are linked in only where they are named.
static void initPageResources()
{
    Q_INIT_RESOURCE(page);
}

namespace {

namespace Method = RemoteContract::Method;
namespace Key = RemoteContract::Key;
namespace Limit = RemoteContract::Limit;
namespace Accepts = RemoteContract::Accepts;

// A page that polls with its state call gets every event of a busy second in one answer, and no
// answer grows large.
constexpr int MaxEventsPerCall = 250;

// The remote methods, in the order they are registered and __dir__ lists them, each served by
// the slot of its name. Its line is what help() and system.methodHelp tell of it; help() tells
// its own line last.
struct RemoteMethod
{
    QLatin1String name;
    const char *help;
};
const RemoteMethod remoteMethods[] = {
    { Method::connect, "connect() returns always 0" },
    { Method::close, "close() returns always 0" },
    { Method::checkConnection, "checkConnection() returns a NULL string or the model name" },
    { Method::status, "status() returns instrument status " },
    { Method::help, "help() this info !" },
    { Method::getWavelength, "getWavelength() returns wavelength (double)" },
    { Method::setWavelength, "setWavelength(double) " },
    { Method::moveRelative, "moveRelative(int) " },
    { Method::getInSlit, "getInSlit() returns int" },
    { Method::setInSlit, "setInSlit(int) " },
    { Method::getOutSlit, "getOutSlit() returns int" },
    { Method::setOutSlit, "setOutSlit(int) " },
    { Method::getGrating, "getGrating() returns current grating, int" },
    { Method::setGrating, "setGrating(int)" },
    { Method::getPosition, "getPosition()" },
    { Method::dir, "" },
    { Method::getState,
        "getState() returns state, text, reason, readBacks, ready, accepts and the values, "
        "struct" },
    { Method::getLimits,
        "getLimits() returns wavelength, slit, grating and relativeMove, each with its "
        "minimum, maximum, decimals, unit and reason, struct" },
    { Method::waitReady,
        "waitReady(seconds) returns getState() once the instrument is ready, struct, or a fault "
        "saying why not" },
    { Method::getEvents,
        "getEvents(afterId) returns the events after that id, each with its id, time, origin, "
        "text, kind and count, array" },
    { Method::getVersion, "getVersion() returns the program's build, string" },
};

// A setter's verdict on the wire: a string also when it is empty, since a null one would
// answer with no value at all.
QString verdictText(const QString &verdict)
{
    return verdict.isNull() ? QString(QLatin1String("")) : verdict;
}

QVariant fault(int code, const QString &text)
{
    return QVariant::fromValue(KelpFault(code, text));
}

template<typename T>
QVariantMap limit(const TriaxLimit<T> &limit)
{
    return {
        { Limit::minimum, limit.minimum },
        { Limit::maximum, limit.maximum },
        { Limit::decimals, limit.decimals },
        { Limit::unit, QString::fromLatin1(limit.unit) },
        { Limit::reason, QString::fromLatin1(limit.reason) },
    };
}

} // namespace

ServerXmlRPC::ServerXmlRPC(TriaxController *controller, int port, QObject *parent)
    : ServerXmlRPC(controller, port, RemoteAccess::fromEnvironment(), parent)
{ }

ServerXmlRPC::ServerXmlRPC(
    TriaxController *controller, int port, const RemoteAccess &access, QObject *parent)
    : QObject(parent)
    , rpcServer(new KelpXmlRpcServer(access.address, static_cast<quint16>(port), this))
    , controller(controller)
    , requestedPort(port)
{
    if (access.allowed)
        rpcServer->setAllowedSubnets(*access.allowed);
    rpcServer->setAllowedHosts(access.hosts);
    // The library has written its warnings already.
    QObject::connect(
        rpcServer, &KelpXmlRpcServer::warningLogged, this, [controller](const QString &line) {
            controller->events()->record(EventLog::Kind::Warning, QStringLiteral("remote control"),
                line, EventLog::Journal::Written);
        });
    // Without this line a client that cannot connect, and the operator, would
    // never learn why; the panel itself works on without remote control.
    if (!rpcServer->isListening()) {
        const QString line = QStringLiteral("remote control: cannot listen on port %1: %2")
                                 .arg(static_cast<quint16>(port))
                                 .arg(rpcServer->errorString());
        qCWarning(lcRemote, "%s", qPrintable(line));
        controller->events()->record(EventLog::Kind::Warning, QStringLiteral("remote control"),
            line, EventLog::Journal::Written);
    }

    for (const RemoteMethod &method : remoteMethods) {
        rpcServer->addMethod(
            method.name, this, method.name.data(), QString::fromLatin1(method.help).trimmed());
    }

    initPageResources();
    rpcServer->addDocuments(QStringLiteral(":/page"));
}

quint16 ServerXmlRPC::serverPort() const
{
    return rpcServer->serverPort();
}

QHostAddress ServerXmlRPC::serverAddress() const
{
    return rpcServer->getServerAddress();
}

ListeningPort ServerXmlRPC::listening() const
{
    if (!rpcServer->isListening())
        return { quint16(requestedPort), QHostAddress(), 0, rpcServer->errorString() };
    return { quint16(requestedPort), serverAddress(), serverPort(), QString() };
}

TriaxController::Requester ServerXmlRPC::caller(QLatin1String method, const QString &value) const
{
    return { RemoteAccess::addressText(rpcServer->callerAddress()),
        value.isEmpty() ? QString(method) : QStringLiteral("%1 %2").arg(method, value) };
}

int ServerXmlRPC::connect()
{
    controller->openPort(caller(Method::connect));
    return 0;
}

int ServerXmlRPC::close()
{
    controller->closePort(caller(Method::close));
    return 0;
}

QString ServerXmlRPC::checkConnection()
{
    return controller->ready() ? QStringLiteral("1") : QStringLiteral("0");
}

int ServerXmlRPC::status()
{
    return controller->ready();
}

QString ServerXmlRPC::help()
{
    QString text = QStringLiteral("\n");
    QString last;
    for (const RemoteMethod &method : remoteMethods) {
        const QString line = QLatin1String(method.help) + u'\n';
        if (method.name == Method::help)
            last = line;
        else if (*method.help)
            text += line;
    }
    return text + last;
}

// Read in one go, so that no request of another client can come between the values.
QVariantMap ServerXmlRPC::getState()
{
    return {
        { Key::state, stateName(controller->state()) },
        { Key::text, controller->statusText() },
        { Key::reason, controller->faultReason() },
        { Key::readBacks, controller->readBacks() },
        { Key::ready, controller->ready() },
        { Key::wavelength, controller->wavelength() },
        { Key::position, controller->position() },
        { Key::inSlit, controller->inSlitSteps() },
        { Key::outSlit, controller->outSlitSteps() },
        { Key::grating, controller->grating() },
        { Key::accepts,
            QVariantMap {
                { Accepts::connect, controller->accepts().connect },
                { Accepts::close, controller->accepts().close },
                { Accepts::requests, controller->accepts().requests },
            } },
    };
}

QVariantList ServerXmlRPC::getEvents(int afterId)
{
    namespace Event = RemoteContract::Event;
    const auto kindName = [](EventLog::Kind kind) {
        switch (kind) {
        case EventLog::Kind::Taken:
            return QStringLiteral("taken");
        case EventLog::Kind::Refused:
            return QStringLiteral("refused");
        case EventLog::Kind::State:
            return QStringLiteral("state");
        case EventLog::Kind::Warning:
            break;
        }
        return QStringLiteral("warning");
    };
    QVariantList events;
    const QList<EventLog::Event> found
        = controller->events()->after(quint64(std::max(afterId, 0)), MaxEventsPerCall);
    for (const EventLog::Event &event : found) {
        events.append(QVariantMap {
            { Event::id, int(event.id) },
            { Event::time, event.time.toString(Qt::ISODateWithMs) },
            { Event::origin, event.origin },
            { Event::text, event.text },
            { Event::kind, kindName(event.kind) },
            { Event::count, event.count },
        });
    }
    return events;
}

QVariant ServerXmlRPC::waitReady(int seconds)
{
    return waitReady(double(seconds));
}

QVariant ServerXmlRPC::waitReady(double seconds)
{
    namespace Fault = RemoteContract::Fault;
    if (!(seconds >= 0 && seconds <= ReadyWait::MaxSeconds)) {
        return fault(KelpFault::InvalidParameters,
            QStringLiteral("waitReady waits 0 to %1 seconds").arg(ReadyWait::MaxSeconds));
    }
    switch (controller->settling()) {
    case TriaxController::Settling::Settled:
        return getState();
    case TriaxController::Settling::Failed:
        return fault(Fault::notReady, controller->settlingFailure());
    case TriaxController::Settling::Pending:
        break;
    }
    // A multicall answers all its calls at once: there it waits no time.
    KelpDeferredResponse *response = seconds > 0 ? rpcServer->deferResponse() : nullptr;
    if (!response) {
        const QString late = ReadyWait::notReadyWithin(seconds);
        return fault(Fault::timedOut,
            seconds > 0 ? late + QStringLiteral(": waitReady does not wait inside system.multicall")
                        : late);
    }
    auto *wait = new ReadyWait(controller, seconds, response);
    QObject::connect(wait, &ReadyWait::finished, response,
        [this, response](ReadyWait::Outcome outcome, const QString &reason) {
            switch (outcome) {
            case ReadyWait::Outcome::Ready:
                response->finish(getState());
                break;
            case ReadyWait::Outcome::Failed:
                response->finish(fault(Fault::notReady, reason));
                break;
            case ReadyWait::Outcome::TimedOut:
                response->finish(fault(Fault::timedOut, reason));
                break;
            }
        });
    return QVariant();
}

QVariantMap ServerXmlRPC::getLimits()
{
    return {
        { Limit::wavelength, limit(TriaxLimits::wavelength) },
        { Limit::slit, limit(TriaxLimits::slit) },
        { Limit::grating, limit(TriaxLimits::grating) },
        { Limit::relativeMove, limit(TriaxLimits::relativeMove) },
    };
}

double ServerXmlRPC::getWavelength()
{
    return controller->wavelength();
}

QString ServerXmlRPC::setWavelength(double wavelength)
{
    return verdictText(controller->newWavelength(wavelength, QString(),
        caller(Method::setWavelength,
            QString::number(wavelength, 'g', QLocale::FloatingPointShortest))));
}

QString ServerXmlRPC::moveRelative(int steps)
{
    return verdictText(controller->moveRelative(
        steps, QString(), caller(Method::moveRelative, QString::number(steps))));
}

int ServerXmlRPC::getInSlit()
{
    return controller->inSlitSteps();
}

QString ServerXmlRPC::setInSlit(int steps)
{
    return verdictText(
        controller->newInSlit(steps, QString(), caller(Method::setInSlit, QString::number(steps))));
}

int ServerXmlRPC::getOutSlit()
{
    return controller->outSlitSteps();
}

QString ServerXmlRPC::setOutSlit(int steps)
{
    return verdictText(controller->newOutSlit(
        steps, QString(), caller(Method::setOutSlit, QString::number(steps))));
}

int ServerXmlRPC::getGrating()
{
    return controller->grating();
}

QString ServerXmlRPC::setGrating(int index)
{
    qCDebug(lcRemote, "%d", controller->ready());
    return verdictText(
        controller->changeGrating(index, caller(Method::setGrating, QString::number(index))));
}

QVariantList ServerXmlRPC::__dir__()
{
    QVariantList names;
    for (const RemoteMethod &method : remoteMethods) {
        if (method.name != Method::dir)
            names.append(QString(method.name));
    }
    return names;
}

QString ServerXmlRPC::getVersion()
{
    return QStringLiteral(MONOPANEL_VERSION);
}

int ServerXmlRPC::getPosition()
{
    return controller->position();
}
