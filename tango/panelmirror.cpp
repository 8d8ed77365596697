#include "panelmirror.h"

#include "kelpObject.h"
#include "kelpXmlRpcClient.h"
#include "panelwire.h"
#include "remotecontract.h"

#include <QThread>

#include <chrono>

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

PanelVerdict PanelMirror::request(const PanelRequest &request)
{
    // The mirror's thread answers it: waiting there would wait for ever.
    Q_ASSERT(QThread::currentThread() != thread());
    std::unique_lock<std::mutex> lock(mutex);
    if (const std::optional<PanelVerdict> refusal = tracker.refusalUnsent(request))
        return *refusal;
    const quint64 id = ++lastRequestId;
    waiting.insert(id, std::nullopt);
    QMetaObject::invokeMethod(
        this,
        [this, request, id] {
            pendingCalls.append({ request, id });
            if (!callInFlight)
                pollLater();
        },
        Qt::QueuedConnection);
    changed.wait_for(lock, std::chrono::milliseconds(CallTimeout),
        [&] { return waiting.value(id).has_value(); });
    // Not sent yet, it is not sent any more; sent, it may still be taken, and the snapshot will
    // show it.
    if (const std::optional<PanelVerdict> verdict = waiting.take(id))
        return *verdict;
    return { false, false, tracker.snapshot().state,
        QStringLiteral("%1: the panel gave no verdict within %2 s.")
            .arg(request.describe())
            .arg(CallTimeout / 1000) };
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
    send(pendingCalls.takeFirst());
}

void PanelMirror::poll()
{
    if (callInFlight)
        return;
    callInFlight = true;
    // Until the panel has told its limits, every poll asks for them with the state: the device
    // learns them from the first answer, or once a panel unreachable at start-up answers.
    const bool askLimits = !snapshot().limits;
    KelpObject *call = askLimits
        ? client->call(QStringLiteral("system.multicall"),
            { QVariant(QVariantList { PanelWire::getLimits(), PanelWire::getState() }) })
        : client->call(RemoteContract::Method::getState);
    connect(
        call, &KelpObject::aresponse, this, [this, askLimits](QVariant &result, QNetworkReply *) {
            callInFlight = false;
            decide([&](PanelTracker &tracker) {
                if (askLimits)
                    tracker.limitsAndStateAnswered(result);
                else
                    tracker.stateAnswered(result);
            });
            pollLater();
        });
    connect(call, &KelpObject::fault, this, [this](int code, const QString &text, QNetworkReply *) {
        callInFlight = false;
        decide([&](PanelTracker &tracker) { tracker.stateFailed(failureOf(code, text)); });
        pollLater();
    });
}

void PanelMirror::send(const PendingCall &pending)
{
    QVariantList calls;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (waiting.contains(pending.id))
            calls = tracker.callsFor(pending.request);
    }
    if (calls.isEmpty()) {
        pollLater();
        return;
    }
    callInFlight = true;
    KelpObject *call
        = client->call(QStringLiteral("system.multicall"), QVariantList { QVariant(calls) });
    connect(call, &KelpObject::aresponse, this, [this, pending](QVariant &result, QNetworkReply *) {
        callInFlight = false;
        deliver(pending.id, [&](PanelTracker &tracker) {
            return tracker.requestAnswered(pending.request, result);
        });
        pollLater();
    });
    connect(call, &KelpObject::fault, this,
        [this, pending](int code, const QString &text, QNetworkReply *) {
            callInFlight = false;
            deliver(pending.id, [&](PanelTracker &tracker) {
                return tracker.requestFailed(pending.request, failureOf(code, text));
            });
            pollLater();
        });
}

void PanelMirror::deliver(quint64 id, const std::function<PanelVerdict(PanelTracker &)> &decision)
{
    const std::lock_guard<std::mutex> lock(mutex);
    const PanelVerdict verdict = decision(tracker);
    if (waiting.contains(id))
        waiting.insert(id, verdict);
    changed.notify_all();
}
