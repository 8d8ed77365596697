#include "panelmirror.h"

#include "kelpObject.h"
#include "kelpXmlRpcClient.h"
#include "remotecontract.h"

namespace {

PanelTracker::Failure failureOf(int code, const QString &text)
{
    return { code, text, code == KelpXmlRpcClient::TransportFault };
}

} // namespace

PanelMirror::PanelMirror(const QUrl &panel, QObject *parent)
    : QObject(parent)
    , panelUrl(panel)
    , pollTimer(this)
    , tracker(panel)
{
    pollTimer.setSingleShot(true);
    connect(&pollTimer, &QTimer::timeout, this, &PanelMirror::poll);
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
    return tracker.snapshot();
}

bool PanelMirror::request(const PanelRequest &request, PanelSnapshot *refusal)
{
    std::optional<quint64> id;
    decide([&](PanelTracker &tracker) {
        id = tracker.take(request);
        if (!id)
            *refusal = tracker.snapshot();
    });
    if (!id)
        return false;
    QMetaObject::invokeMethod(
        this,
        [this, request, id = *id] {
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
    changed.wait(lock, [&] { return stopping || tracker.snapshot().generation != generation; });
    if (stopping)
        return std::nullopt;
    return tracker.snapshot();
}

void PanelMirror::stopWaiting()
{
    const std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
    changed.notify_all();
}

void PanelMirror::decide(const std::function<void(PanelTracker &)> &decision)
{
    const std::lock_guard<std::mutex> lock(mutex);
    const quint64 generation = tracker.snapshot().generation;
    decision(tracker);
    if (tracker.snapshot().generation != generation)
        changed.notify_all();
}

// Requests go before the next poll: each brings the panel's state with it.
void PanelMirror::pollLater()
{
    if (pendingCalls.isEmpty()) {
        pollTimer.start(
            snapshot().state == PanelSnapshot::State::Moving ? MovingPollInterval : PollInterval);
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
    KelpObject *call = client->call(RemoteContract::Method::getState);
    connect(call, &KelpObject::aresponse, this, [this](QVariant &result, QNetworkReply *) {
        callInFlight = false;
        decide([&](PanelTracker &tracker) { tracker.stateAnswered(result); });
        pollLater();
    });
    connect(call, &KelpObject::fault, this, [this](int code, const QString &text, QNetworkReply *) {
        callInFlight = false;
        decide([&](PanelTracker &tracker) { tracker.stateFailed(failureOf(code, text)); });
        pollLater();
    });
}

void PanelMirror::send(const PanelRequest &request, quint64 id)
{
    QVariantList calls;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        calls = tracker.callsFor(request, id);
    }
    if (calls.isEmpty()) {
        pollLater();
        return;
    }
    callInFlight = true;
    KelpObject *call
        = client->call(QStringLiteral("system.multicall"), QVariantList { QVariant(calls) });
    connect(
        call, &KelpObject::aresponse, this, [this, request, id](QVariant &result, QNetworkReply *) {
            callInFlight = false;
            decide([&](PanelTracker &tracker) { tracker.requestAnswered(request, id, result); });
            pollLater();
        });
    connect(call, &KelpObject::fault, this,
        [this, request](int code, const QString &text, QNetworkReply *) {
            callInFlight = false;
            decide([&](PanelTracker &tracker) {
                tracker.requestFailed(request, failureOf(code, text));
            });
            pollLater();
        });
}
