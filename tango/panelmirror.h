#ifndef PANELMIRROR_H
#define PANELMIRROR_H

#include "panelrequest.h"
#include "panelsnapshot.h"
#include "paneltracker.h"

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
// Requests from any thread are checked against that snapshot at once and then carried out on the
// mirror's thread, one call at a time; what the answers mean is the tracker's to decide.
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
    // A panel that does not answer within this time counts as unreachable.
    static constexpr int CallTimeout = 2000;

    explicit PanelMirror(const QUrl &panel, QObject *parent = nullptr);

    // These may be called from any thread.
    PanelSnapshot snapshot() const;
    // Takes the request when the state allows it (a motion only when ON, Connect unless
    // MOVING); otherwise returns false with the snapshot that refused it in *refusal.
    bool request(const PanelRequest &request, PanelSnapshot *refusal);
    // Blocks until there is a snapshot newer than generation, or until stopWaiting().
    std::optional<PanelSnapshot> waitForChange(quint64 generation);
    void stopWaiting();

public slots:
    // Starts polling; runs on the mirror's thread.
    void start();

private:
    // On the mirror's thread.
    void poll();
    void send(const PanelRequest &request, quint64 id);
    void pollLater();
    // Hands the tracker an outcome under the lock and wakes the readers when it publishes.
    void decide(const std::function<void(PanelTracker &)> &decision);

    const QUrl panelUrl;
    KelpXmlRpcClient *client = nullptr;
    QTimer pollTimer;
    QList<QPair<PanelRequest, quint64>> pendingCalls;
    bool callInFlight = false;

    mutable std::mutex mutex;
    std::condition_variable changed;
    PanelTracker tracker;
    bool stopping = false;
};

#endif // PANELMIRROR_H
