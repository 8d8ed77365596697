#include "panelmirror.h"

#include "kelpObject.h"
#include "kelpXmlRpcClient.h"

#include <cmath>

namespace {

QString methodFor(PanelRequest::Kind kind)
{
    switch (kind) {
    case PanelRequest::Kind::Wavelength:
        return QStringLiteral("setWavelength");
    case PanelRequest::Kind::MoveRelative:
        return QStringLiteral("moveRelative");
    case PanelRequest::Kind::EntranceSlit:
        return QStringLiteral("setInSlit");
    case PanelRequest::Kind::ExitSlit:
        return QStringLiteral("setOutSlit");
    case PanelRequest::Kind::Grating:
        return QStringLiteral("setGrating");
    case PanelRequest::Kind::Connect:
        return QStringLiteral("connect");
    case PanelRequest::Kind::Close:
        return QStringLiteral("close");
    }
    return QString();
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

QVariantMap callOf(const QString &method, const QVariantList &params = {})
{
    return { { QStringLiteral("methodName"), method }, { QStringLiteral("params"), params } };
}

QVariantMap getState()
{
    return callOf(QStringLiteral("getState"));
}

PanelSnapshot::State stateOf(const QString &panelState)
{
    using State = PanelSnapshot::State;
    if (panelState == QLatin1String("ready"))
        return State::On;
    if (panelState == QLatin1String("busy") || panelState == QLatin1String("reading back"))
        return State::Moving;
    if (panelState == QLatin1String("waking up"))
        return State::Init;
    if (panelState == QLatin1String("closed"))
        return State::Off;
    // "no answer", "port lost", "cannot open".
    return State::Fault;
}

bool isPanelState(const QVariant &value)
{
    return value.typeId() == QMetaType::QVariantMap
        && value.toMap().value(QStringLiteral("state")).typeId() == QMetaType::QString;
}

// One answer of a multicall: the result in a one-element list, or a fault struct.
QVariant resultOf(const QVariant &answer)
{
    const QVariantList list = answer.toList();
    return answer.typeId() == QMetaType::QVariantList && list.size() == 1 ? list.constFirst()
                                                                          : QVariant();
}

QString faultOf(const QVariant &answer)
{
    const QVariantMap fault = answer.toMap();
    if (!fault.contains(QStringLiteral("faultCode")))
        return QString();
    return QStringLiteral("%1 (%2)").arg(fault.value(QStringLiteral("faultString")).toString(),
        fault.value(QStringLiteral("faultCode")).toString());
}

} // namespace

PanelMirror::PanelMirror(const QUrl &panel, QObject *parent)
    : QObject(parent)
    , panelUrl(panel)
    , pollTimer(this)
{
    pollTimer.setSingleShot(true);
    connect(&pollTimer, &QTimer::timeout, this, &PanelMirror::poll);
    shared.status
        = QStringLiteral("Waiting for the panel at %1 to answer.").arg(panelUrl.toString());
}

void PanelMirror::start()
{
    client = new KelpXmlRpcClient(panelUrl, this);
    client->setTransferTimeout(CallTimeout);
    poll();
}

PanelSnapshot PanelMirror::snapshot() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return shared;
}

bool PanelMirror::request(const PanelRequest &request, PanelSnapshot *refusal)
{
    using State = PanelSnapshot::State;
    quint64 id = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const bool allowed = request.isMotion()
            ? shared.state == State::On
            : request.kind == PanelRequest::Kind::Close || shared.state != State::Moving;
        if (!allowed) {
            *refusal = shared;
            return false;
        }
        note.clear();
        if (request.isMotion()) {
            id = ++lastMoveId;
            move = Move { request, id, std::nullopt };
            // MOVING from the moment the write returns, so that a client waiting for the end
            // of MOVING cannot read ON first.
            shared.state = State::Moving;
            shared.status = QStringLiteral("Moving: %1 requested.").arg(request.describe());
        } else if (request.kind == PanelRequest::Kind::Close && move) {
            endMove(QStringLiteral("Close ended %1.").arg(move->request.describe()));
        }
        publish();
    }
    QMetaObject::invokeMethod(
        this,
        [this, request, id] {
            pendingCalls.append({ request, id });
            if (!callInFlight)
                pollLater();
        },
        Qt::QueuedConnection);
    return true;
}

std::optional<PanelSnapshot> PanelMirror::waitForChange(quint64 generation)
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return stopping || shared.generation != generation; });
    if (stopping)
        return std::nullopt;
    return shared;
}

void PanelMirror::stopWaiting()
{
    const std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
    changed.notify_all();
}

// Requests go before the next poll: each brings the panel's state with it.
void PanelMirror::pollLater()
{
    if (pendingCalls.isEmpty()) {
        pollTimer.start(PollInterval);
        return;
    }
    pollTimer.stop();
    const auto [request, id] = pendingCalls.takeFirst();
    send(request, id);
}

void PanelMirror::poll()
{
    if (callInFlight)
        return;
    callInFlight = true;
    KelpObject *call = client->call(QStringLiteral("getState"));
    connect(call, &KelpObject::aresponse, this,
        [this](QVariant &result, QNetworkReply *) { answered(result, nullptr, 0); });
    connect(call, &KelpObject::fault, this, [this](int code, const QString &text, QNetworkReply *) {
        callInFlight = false;
        unreachable(code == KelpXmlRpcClient::TransportFault
                ? text
                : QStringLiteral("it answered getState with %1 (%2)").arg(text).arg(code),
            QString());
    });
}

// A motion goes between two readings of the state: the first tells whether the panel will
// take it and the count its read-back must pass, the second that it has. Connect on a fault
// is the operator's close, then connect.
void PanelMirror::send(const PanelRequest &request, quint64 id)
{
    QVariantList calls;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (request.isMotion()) {
            // A move that has ended before it went out (Close, the panel lost) must not start
            // after all.
            if (!move || move->id != id) {
                pollLater();
                return;
            }
            calls.append(getState());
        } else if (request.kind == PanelRequest::Kind::Connect
            && shared.state == PanelSnapshot::State::Fault) {
            calls.append(callOf(methodFor(PanelRequest::Kind::Close)));
        }
    }
    calls.append(callOf(methodFor(request.kind), argumentsFor(request)));
    calls.append(getState());

    callInFlight = true;
    KelpObject *call
        = client->call(QStringLiteral("system.multicall"), QVariantList { QVariant(calls) });
    connect(call, &KelpObject::aresponse, this,
        [this, request, id](QVariant &result, QNetworkReply *) { answered(result, &request, id); });
    connect(call, &KelpObject::fault, this,
        [this, request](int code, const QString &text, QNetworkReply *) {
            callInFlight = false;
            const QString what = QStringLiteral("%1 failed: the panel answered %2 (%3).")
                                     .arg(request.describe(), text, QString::number(code));
            if (code == KelpXmlRpcClient::TransportFault) {
                unreachable(text, what);
                return;
            }
            {
                const std::lock_guard<std::mutex> lock(mutex);
                if (move && request.isMotion())
                    endMove(what);
                else
                    note = what;
                publish();
            }
            pollLater();
        });
}

void PanelMirror::answered(const QVariant &result, const PanelRequest *request, quint64 id)
{
    callInFlight = false;
    const QVariantList answers = result.toList();
    const QVariant last = request ? resultOf(answers.value(answers.size() - 1)) : result;
    if (!isPanelState(last)) {
        unreachable(QStringLiteral("it answered getState with %1")
                        .arg(QString::fromLatin1(last.typeName())),
            QString());
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (request) {
            const QVariant requested = answers.value(answers.size() - 2);
            const QString fault = faultOf(requested);
            if (!fault.isEmpty()) {
                const QString what = QStringLiteral("%1 failed: the panel answered %2.")
                                         .arg(request->describe(), fault);
                if (request->isMotion() && move && move->id == id)
                    endMove(what);
                else
                    note = what;
            } else if (request->isMotion() && move && move->id == id) {
                const QVariantMap before = resultOf(answers.value(0)).toMap();
                const QString ready = QStringLiteral("ready");
                if (before.value(ready).toInt() == 1 && last.toMap().value(ready).toInt() == 0)
                    move->takenAt = before.value(QStringLiteral("readBacks")).toInt();
                else
                    endMove(QStringLiteral("%1 was not taken: the panel was busy.")
                                .arg(request->describe()));
            }
        }
        follow(last.toMap());
    }
    pollLater();
}

void PanelMirror::unreachable(const QString &why, const QString &requestNote)
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (move)
            endMove(requestNote.isEmpty()
                    ? QStringLiteral("%1 was interrupted: the panel could not be reached.")
                          .arg(move->request.describe())
                    : requestNote);
        else if (!requestNote.isEmpty())
            note = requestNote;
        shared.state = PanelSnapshot::State::Fault;
        shared.status
            = QStringLiteral("The panel at %1 cannot be reached: %2").arg(panelUrl.toString(), why);
        if (!note.isEmpty())
            shared.status += u' ' + note;
        publish();
    }
    pollLater();
}

void PanelMirror::follow(const QVariantMap &panel)
{
    using State = PanelSnapshot::State;
    const QString panelState = panel.value(QStringLiteral("state")).toString();
    const int readBacks = panel.value(QStringLiteral("readBacks")).toInt();
    shared.readBack = readBacks > 0;
    shared.wavelength = panel.value(QStringLiteral("wavelength")).toDouble();
    shared.position = panel.value(QStringLiteral("position")).toInt();
    shared.entranceSlit = panel.value(QStringLiteral("inSlit")).toInt();
    shared.exitSlit = panel.value(QStringLiteral("outSlit")).toInt();
    shared.grating = panel.value(QStringLiteral("grating")).toInt();

    const State state = stateOf(panelState);
    const QString text = panel.value(QStringLiteral("text")).toString();
    const QString reason = panel.value(QStringLiteral("reason")).toString();
    QString fault = QStringLiteral("The panel reports \"%1\"").arg(text);
    fault += reason.isEmpty() ? QStringLiteral(".") : QStringLiteral(": %1").arg(reason);
    if (move && move->takenAt) {
        if (state == State::Fault)
            endMove(QStringLiteral("%1 failed.").arg(move->request.describe()));
        else if (state == State::Off)
            endMove(QStringLiteral("%1 ended: the port was closed.").arg(move->request.describe()));
        else if (state == State::On && readBacks > *move->takenAt)
            endMove(QString());
    }

    if (move) {
        shared.state = State::Moving;
        shared.status = QStringLiteral("Moving: %1 requested; waiting for %2.")
                            .arg(move->request.describe(),
                                state == State::On || panelState == QLatin1String("reading back")
                                    ? QStringLiteral("its read-back")
                                    : QStringLiteral("the instrument"));
        publish();
        return;
    }
    shared.state = state;
    switch (state) {
    case State::On:
        shared.status = QStringLiteral("The instrument is ready.");
        break;
    case State::Moving:
        shared.status = panelState == QLatin1String("reading back")
            ? QStringLiteral("The instrument is ready; its values are being read back.")
            : QStringLiteral("The instrument is moving.");
        break;
    case State::Init:
        shared.status = QStringLiteral(
            "The instrument is waking up (about 90 s when it has to start its firmware).");
        break;
    case State::Off:
        shared.status = QStringLiteral("The port is closed; Connect brings the instrument up.");
        break;
    case State::Fault:
        shared.status = fault;
        break;
    }
    if (!note.isEmpty())
        shared.status += u' ' + note;
    if (state == State::Fault)
        shared.status += QStringLiteral(" Connect closes the port and connects again.");
    publish();
}

void PanelMirror::endMove(const QString &moveNote)
{
    move.reset();
    note = moveNote;
}

void PanelMirror::publish()
{
    const PanelSnapshot &last = published;
    if (last.generation != 0 && last.state == shared.state && last.status == shared.status
        && last.readBack == shared.readBack && last.wavelength == shared.wavelength
        && last.position == shared.position && last.entranceSlit == shared.entranceSlit
        && last.exitSlit == shared.exitSlit && last.grating == shared.grating)
        return;
    ++shared.generation;
    published = shared;
    changed.notify_all();
}
