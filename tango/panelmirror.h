#ifndef PANELMIRROR_H
#define PANELMIRROR_H

#include "panelrequest.h"
#include "panelsnapshot.h"
#include "paneltracker.h"
#include "panelverdict.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

class KelpXmlRpcClient;

// Mirrors the panel's instrument for the control system. It lives on a thread of its own with
// an event loop, asks the panel for its whole state a few times a second (many more while a
// move is under way) over one kept connection and keeps a snapshot that any thread may read.
// Requests from other threads are carried out on the mirror's thread, one call at a time, and
// their callers wait for the panel's verdict; what the answers mean is the tracker's to decide.
class PanelMirror : public QObject
{
    Q_OBJECT
public:
    static constexpr int PollInterval = 250;
    // While MOVING the end of the read-back is what a scan waits for: with the recommended
    // answer gap (25 ms) the panel finishes a step in about 0.24 s, and a 250 ms poll would add
    // up to a whole step to it. Polling once a gap shows ON within a gap of the read-back; a
    // getState on the kept connection costs the panel well under a millisecond, so 40 a second,
    // only while moving, is nothing to it.
    static constexpr int MovingPollInterval = 25;
    // A panel that does not answer within this time counts as unreachable, and a request's
    // caller waits no longer for its verdict: a control-system client gives up after 3 s.
    static constexpr int CallTimeout = 2000;

    explicit PanelMirror(const QUrl &panel, QObject *parent = nullptr);

    // These may be called from any thread.
    PanelSnapshot snapshot() const;
    // Blocks until there is a snapshot newer than generation, or until stopWaiting().
    std::optional<PanelSnapshot> waitForChange(quint64 generation);
    void stopWaiting();

    // From any thread but the mirror's own: hands the request to the panel and blocks until the
    // panel has taken or refused it, or CallTimeout has passed. A request taken has made the
    // snapshot MOVING (a motion) before this returns. Refused at once when the panel cannot be
    // reached.
    PanelVerdict request(const PanelRequest &request);

public slots:
    // Starts polling; runs on the mirror's thread.
    void start();

private:
    struct PendingCall
    {
        PanelRequest request;
        quint64 id = 0;
    };

    // On the mirror's thread.
    void poll();
    void send(const PendingCall &pending);
    void pollLater();
    // Hands the tracker an outcome under the lock and wakes the readers when it publishes.
    void decide(const std::function<void(PanelTracker &)> &decision);
    // The same for the outcome of a request, whose verdict goes to its caller if it still waits.
    void deliver(quint64 id, const std::function<PanelVerdict(PanelTracker &)> &decision);

    const QUrl panelUrl;
    KelpXmlRpcClient *client = nullptr;
    QTimer pollTimer;
    QList<PendingCall> pendingCalls;
    bool callInFlight = false;

    mutable std::mutex mutex;
    std::condition_variable changed;
    PanelTracker tracker;
    bool stopping = false;
    quint64 lastRequestId = 0;
    // The requests whose callers wait, with their verdicts once known.
    QHash<quint64, std::optional<PanelVerdict>> waiting;
};

#endif // PANELMIRROR_H
