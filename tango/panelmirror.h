#ifndef PANELMIRROR_H
#define PANELMIRROR_H

#include "panelrequest.h"
#include "panelsnapshot.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <condition_variable>
#include <mutex>
#include <optional>

class KelpXmlRpcClient;

// Mirrors the panel's instrument for the control system. It lives on a thread of its own with
// an event loop, polls the panel's remote-control port a few times a second and keeps a
// snapshot that any thread may read. Requests from any thread are checked against that
// snapshot at once and then carried out on the mirror's thread.
//
// The panel's setters only queue the instrument command, and its getters lag behind its ready
// flag: the instrument is read back in five commands after it reports ready. A request
// therefore stays MOVING until the panel is ready again and the read-back shows the request,
// or, where the read-back cannot tell (a grating change, a value that was already there),
// until the whole read-back has had time to come in.
class PanelMirror : public QObject
{
    Q_OBJECT
public:
    static constexpr int PollInterval = 250;
    // A panel that does not answer within this time counts as unreachable.
    static constexpr int CallTimeout = 2000;
    // Five commands of 200 ms each, and a margin.
    static constexpr int ReadBackTime = 1300;
    // A request that has not brought the instrument back to ready by then has failed.
    static constexpr int MoveTimeout = 120 * 1000;
    // An instrument that has to start takes about 90 s after Connect.
    static constexpr int ConnectTimeout = 120 * 1000;

    explicit PanelMirror(const QUrl &panel, QObject *parent = nullptr);

    // These may be called from any thread.
    PanelSnapshot snapshot() const;
    // Takes the request when the state allows it (a motion only when ON, Connect unless
    // MOVING or FAULT, Close unless FAULT); otherwise returns false with the snapshot that
    // refused it in *refusal.
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
        PanelSnapshot before;
        quint64 id = 0;
        qint64 acceptedAt = 0;
        // Set once the panel has answered the setter: only rounds begun after that count.
        bool sent = false;
        // The start of the first counted round in which the panel was ready, or -1.
        qint64 readySince = -1;
    };

    // On the mirror's thread.
    void startRound();
    void callNextGetter();
    void finishRound();
    void failRound(const QString &why);
    void sendNext();
    void pollLater();

    // With the lock held.
    void settle();
    bool confirmsEarly(const Move &move) const;
    static bool shows(
        const PanelRequest &request, const PanelSnapshot &before, const PanelSnapshot &values);
    void endMove(const QString &note);
    void updateState();

    const QUrl panelUrl;
    QElapsedTimer clock;

    KelpXmlRpcClient *client = nullptr;
    QTimer pollTimer;
    QList<QPair<PanelRequest, quint64>> pendingCalls;
    bool roundInFlight = false;
    bool callInFlight = false;
    int getterIndex = 0;
    qint64 roundStartedAt = 0;
    bool roundCountsForMove = false;
    bool roundReady = false;
    PanelSnapshot roundValues;

    mutable std::mutex mutex;
    std::condition_variable changed;
    PanelSnapshot shared;
    // The last snapshot announced to waiting readers.
    PanelSnapshot published;
    bool stopping = false;
    bool answered = false;
    bool reachable = false;
    QString unreachableWhy;
    bool panelReady = false;
    qint64 readySince = -1;
    bool settled = false;
    qint64 connectSentAt = -1;
    std::optional<Move> move;
    quint64 lastMoveId = 0;
    QString note;
};

#endif // PANELMIRROR_H
