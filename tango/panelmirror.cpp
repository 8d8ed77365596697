#include "panelmirror.h"

#include "kelpObject.h"
#include "kelpXmlRpcClient.h"

#include <cmath>
#include <iterator>

namespace {

// One round reads the ready flag first, so that the read-outs after it are at least as new.
const char *const roundGetters[]
    = { "status", "getWavelength", "getPosition", "getInSlit", "getOutSlit", "getGrating" };

// The panel keeps two decimals of the instrument's wavelength, cut off.
bool sameWavelength(double a, double b)
{
    return std::fabs(a - b) < 0.01;
}

// A motion needs a ready instrument; Connect and Close only need the panel, and Close may
// end a move.
bool allows(const PanelRequest &request, PanelSnapshot::State state)
{
    if (request.isMotion())
        return state == PanelSnapshot::State::On;
    if (state == PanelSnapshot::State::Fault)
        return false;
    return request.kind == PanelRequest::Kind::Close || state != PanelSnapshot::State::Moving;
}

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

} // namespace

PanelMirror::PanelMirror(const QUrl &panel, QObject *parent)
    : QObject(parent)
    , panelUrl(panel)
    , pollTimer(this)
{
    clock.start();
    pollTimer.setSingleShot(true);
    connect(&pollTimer, &QTimer::timeout, this, &PanelMirror::startRound);
    shared.status
        = QStringLiteral("Waiting for the panel at %1 to answer.").arg(panelUrl.toString());
}

void PanelMirror::start()
{
    client = new KelpXmlRpcClient(panelUrl, this);
    client->setTransferTimeout(CallTimeout);
    startRound();
}

PanelSnapshot PanelMirror::snapshot() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return shared;
}

bool PanelMirror::request(const PanelRequest &request, PanelSnapshot *refusal)
{
    quint64 id = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const bool allowed = allows(request, shared.state);
        if (!allowed) {
            *refusal = shared;
            return false;
        }
        note.clear();
        if (request.isMotion()) {
            id = ++lastMoveId;
            move = Move { request, shared, id, clock.elapsed() };
        } else if (request.kind == PanelRequest::Kind::Connect) {
            connectSentAt = clock.elapsed();
        } else {
            // Not ready from now on, rather than from the next round.
            connectSentAt = -1;
            panelReady = false;
            readySince = -1;
            settled = false;
            if (move)
                endMove(QStringLiteral("Close ended %1.").arg(move->request.describe()));
        }
        updateState();
    }
    QMetaObject::invokeMethod(
        this,
        [this, request, id] {
            pendingCalls.append({ request, id });
            sendNext();
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

void PanelMirror::pollLater()
{
    if (!pendingCalls.isEmpty())
        sendNext();
    else
        pollTimer.start(PollInterval);
}

void PanelMirror::startRound()
{
    if (roundInFlight || callInFlight)
        return;
    pollTimer.stop();
    roundInFlight = true;
    getterIndex = 0;
    roundStartedAt = clock.elapsed();
    {
        const std::lock_guard<std::mutex> lock(mutex);
        roundCountsForMove = move && move->sent;
    }
    callNextGetter();
}

void PanelMirror::callNextGetter()
{
    const QString method = QString::fromLatin1(roundGetters[getterIndex]);
    KelpObject *call = client->call(method);
    connect(call, &KelpObject::aresponse, this, [this, method](QVariant &result, QNetworkReply *) {
        const QMetaType::Type expected
            = method == QLatin1String("getWavelength") ? QMetaType::Double : QMetaType::Int;
        if (result.typeId() != expected) {
            failRound(QStringLiteral("it answered %1 with %2 instead of %3")
                          .arg(method, QString::fromLatin1(result.typeName()),
                              QString::fromLatin1(QMetaType(expected).name())));
            return;
        }
        switch (getterIndex) {
        case 0:
            roundReady = result.toInt() == 1;
            break;
        case 1:
            roundValues.wavelength = result.toDouble();
            break;
        case 2:
            roundValues.position = result.toInt();
            break;
        case 3:
            roundValues.entranceSlit = result.toInt();
            break;
        case 4:
            roundValues.exitSlit = result.toInt();
            break;
        default:
            roundValues.grating = result.toInt();
            break;
        }
        if (++getterIndex < int(std::size(roundGetters)))
            callNextGetter();
        else
            finishRound();
    });
    connect(call, &KelpObject::fault, this,
        [this](int, const QString &text, QNetworkReply *) { failRound(text); });
}

void PanelMirror::finishRound()
{
    roundInFlight = false;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        answered = true;
        reachable = true;
        settle();
        updateState();
    }
    pollLater();
}

void PanelMirror::failRound(const QString &why)
{
    roundInFlight = false;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        answered = true;
        reachable = false;
        unreachableWhy = why;
        panelReady = false;
        readySince = -1;
        settled = false;
        if (move)
            endMove(QStringLiteral("%1 was interrupted: the panel could not be reached.")
                        .arg(move->request.describe()));
        updateState();
    }
    pollLater();
}

void PanelMirror::sendNext()
{
    if (roundInFlight || callInFlight || pendingCalls.isEmpty())
        return;
    pollTimer.stop();
    const auto [request, id] = pendingCalls.takeFirst();
    if (request.isMotion()) {
        // A move that has ended before its setter went out (Close, or the panel lost) must not
        // start after all.
        const std::lock_guard<std::mutex> lock(mutex);
        if (!move || move->id != id) {
            pollLater();
            return;
        }
    }
    callInFlight = true;
    KelpObject *call = client->call(methodFor(request.kind), argumentsFor(request));
    // Setters answer with no result, or with an empty string: either means taken.
    connect(call, &KelpObject::aresponse, this, [this, id = id](QVariant &, QNetworkReply *) {
        callInFlight = false;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (move && move->id == id)
                move->sent = true;
        }
        // At once, so that the panel's busy flag is seen while it is fresh.
        startRound();
    });
    connect(call, &KelpObject::fault, this,
        [this, request = request, id = id](int code, const QString &text, QNetworkReply *) {
            callInFlight = false;
            {
                const std::lock_guard<std::mutex> lock(mutex);
                const QString what = QStringLiteral("%1 failed: the panel answered %2 (%3).")
                                         .arg(request.describe(), text, QString::number(code));
                if (code == KelpXmlRpcClient::TransportFault) {
                    reachable = false;
                    unreachableWhy = text;
                }
                if (move && move->id == id)
                    endMove(what);
                else
                    note = what;
                if (request.kind == PanelRequest::Kind::Connect)
                    connectSentAt = -1;
                updateState();
            }
            pollLater();
        });
}

void PanelMirror::settle()
{
    const qint64 now = roundStartedAt;
    shared.wavelength = roundValues.wavelength;
    shared.position = roundValues.position;
    shared.entranceSlit = roundValues.entranceSlit;
    shared.exitSlit = roundValues.exitSlit;
    shared.grating = roundValues.grating;

    panelReady = roundReady;
    if (!panelReady) {
        readySince = -1;
        settled = false;
    } else {
        if (readySince < 0)
            readySince = now;
        if (now - readySince >= ReadBackTime)
            settled = true;
        connectSentAt = -1;
    }
    if (connectSentAt >= 0 && now - connectSentAt >= ConnectTimeout)
        connectSentAt = -1;

    if (!move)
        return;
    if (roundCountsForMove) {
        if (!panelReady) {
            move->readySince = -1;
        } else {
            if (move->readySince < 0)
                move->readySince = now;
            if (confirmsEarly(*move)) {
                endMove(QString());
                settled = true;
            } else if (now - move->readySince >= ReadBackTime) {
                endMove(shows(move->request, move->before, shared)
                        ? QString()
                        : QStringLiteral("The read-back does not show %1.")
                              .arg(move->request.describe()));
                settled = true;
            }
        }
    }
    if (move && now - move->acceptedAt >= MoveTimeout)
        endMove(QStringLiteral("%1 did not bring the instrument back to ready within %2 s.")
                    .arg(move->request.describe(), QString::number(MoveTimeout / 1000)));
}

// Early only where the read-back tells a fresh value from the one before the request: the
// panel shows a new grating before the instrument has moved, and a relative move is read
// back as a position first and a wavelength 200 ms later.
bool PanelMirror::confirmsEarly(const Move &move) const
{
    if (move.request.kind == PanelRequest::Kind::Grating)
        return false;
    if (!shows(move.request, move.before, shared) || shows(move.request, move.before, move.before))
        return false;
    return move.request.kind != PanelRequest::Kind::MoveRelative
        || shared.wavelength != move.before.wavelength;
}

bool PanelMirror::shows(
    const PanelRequest &request, const PanelSnapshot &before, const PanelSnapshot &values)
{
    switch (request.kind) {
    case PanelRequest::Kind::Wavelength:
        return sameWavelength(values.wavelength, request.value);
    case PanelRequest::Kind::MoveRelative:
        return values.position == before.position + std::lround(request.value);
    case PanelRequest::Kind::EntranceSlit:
        return values.entranceSlit == std::lround(request.value);
    case PanelRequest::Kind::ExitSlit:
        return values.exitSlit == std::lround(request.value);
    case PanelRequest::Kind::Grating:
        return values.grating == std::lround(request.value);
    case PanelRequest::Kind::Connect:
    case PanelRequest::Kind::Close:
        break;
    }
    return true;
}

void PanelMirror::endMove(const QString &moveNote)
{
    move.reset();
    note = moveNote;
}

void PanelMirror::updateState()
{
    using State = PanelSnapshot::State;
    const QString url = panelUrl.toString();
    State state = State::Off;
    QString status;
    if (move) {
        state = State::Moving;
        status = QStringLiteral("Moving: %1 requested; waiting for %2.")
                     .arg(move->request.describe(),
                         move->readySince < 0 ? QStringLiteral("the instrument")
                                              : QStringLiteral("its read-back"));
    } else if (!answered) {
        status = QStringLiteral("Waiting for the panel at %1 to answer.").arg(url);
    } else if (!reachable) {
        state = State::Fault;
        status = QStringLiteral("The panel at %1 cannot be reached: %2").arg(url, unreachableWhy);
    } else if (!panelReady && connectSentAt >= 0) {
        status = QStringLiteral("Connect was sent to the panel at %1; waiting for the instrument "
                                "to report ready (about 90 s when it has to start).")
                     .arg(url);
    } else if (!panelReady) {
        status = QStringLiteral("The instrument is not ready: the panel at %1 reports it not "
                                "connected, or busy with a request from elsewhere. Connect "
                                "brings it up.")
                     .arg(url);
    } else if (!settled) {
        status = QStringLiteral("The instrument is ready; waiting for its read-back.");
    } else {
        state = State::On;
        status = QStringLiteral("The instrument is ready.");
    }
    if (!note.isEmpty() && state != State::Moving)
        status += u' ' + note;
    shared.state = state;
    shared.status = status;
    const PanelSnapshot &last = published;
    if (last.generation != 0 && last.state == state && last.status == status
        && last.wavelength == shared.wavelength && last.position == shared.position
        && last.entranceSlit == shared.entranceSlit && last.exitSlit == shared.exitSlit
        && last.grating == shared.grating)
        return;
    ++shared.generation;
    published = shared;
    changed.notify_all();
}
