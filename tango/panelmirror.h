#ifndef PANELMIRROR_H
#define PANELMIRROR_H

#include "panelrequest.h"
#include "panelsnapshot.h"

#include <QList>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <QVariant>

#include <condition_variable>
#include <mutex>
#include <optional>

class KelpXmlRpcClient;

// Mirrors the panel's instrument for the control system. It lives on a thread of its own with
// an event loop, asks the panel for its whole state a few times a second and keeps a snapshot
// that any thread may read. Requests from any thread are checked against that snapshot at
// once and then carried out on the mirror's thread.
//
// The panel counts its read-backs. A request goes out in one multicall between two readings
// of the panel's state, so the mirror knows whether the panel took it and which count it must
// pass: the request stays MOVING until the panel is ready again with a higher count, and
// fails as soon as the panel reports a fault.
class PanelMirror : public QObject
{
    Q_OBJECT
public:
    static constexpr int PollInterval = 250;
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
    struct Move
    {
        PanelRequest request;
        quint64 id = 0;
        // The panel's read-back count when it took the request; unset until it has.
        std::optional<int> takenAt;
    };

    // On the mirror's thread.
    void poll();
    void send(const PanelRequest &request, quint64 id);
    void answered(const QVariant &result, const PanelRequest *request, quint64 id);
    void unreachable(const QString &why, const QString &requestNote);
    void pollLater();

    // With the lock held.
    void follow(const QVariantMap &panel);
    void endMove(const QString &note);
    void publish();

    const QUrl panelUrl;
    KelpXmlRpcClient *client = nullptr;
    QTimer pollTimer;
    QList<QPair<PanelRequest, quint64>> pendingCalls;
    bool callInFlight = false;

    mutable std::mutex mutex;
    std::condition_variable changed;
    PanelSnapshot shared;
    // The last snapshot announced to waiting readers.
    PanelSnapshot published;
    bool stopping = false;
    std::optional<Move> move;
    quint64 lastMoveId = 0;
    QString note;
};

#endif // PANELMIRROR_H
