#ifndef PANELTRACKER_H
#define PANELTRACKER_H

#include "panelrequest.h"
#include "panelsnapshot.h"

#include <QString>
#include <QUrl>
#include <QVariant>

#include <optional>

namespace PanelWire {
struct PanelState;
}

// What the device server makes of the panel's answers: the snapshot it publishes and which
// calls carry out a request. It only decides; PanelMirror makes the calls and hands it their
// outcome.
//
// The panel counts its read-backs. A request goes out in one multicall between two readings of
// the panel's state, so the tracker knows whether the panel took it and which count it must
// pass: the request stays MOVING until the panel is ready again with a higher count, and fails
// as soon as the panel reports a fault.
class PanelTracker
{
public:
    explicit PanelTracker(const QUrl &panel);

    // Its generation grows with every change.
    const PanelSnapshot &snapshot() const { return shared; }

    // Takes the request when the state allows it (a motion only when ON, Connect unless
    // MOVING) and returns the id its outcome is handed back with; nothing when refused.
    std::optional<quint64> take(const PanelRequest &request);
    // The multicall that carries out a request taken; empty for a motion that has ended
    // before it went out (Close, the panel lost).
    QVariantList callsFor(const PanelRequest &request, quint64 id) const;

    // A call answered with a fault by the panel itself, or not answered (transport).
    struct Failure
    {
        int code = 0;
        QString text;
        bool transport = false;
    };

    void stateAnswered(const QVariant &answer);
    void stateFailed(const Failure &failure);
    void requestAnswered(const PanelRequest &request, quint64 id, const QVariant &answers);
    void requestFailed(const PanelRequest &request, const Failure &failure);

private:
    struct Move
    {
        PanelRequest request;
        quint64 id = 0;
        // The panel's read-back count when it took the request; unset until it has.
        std::optional<int> takenAt;
    };

    bool isMove(const PanelRequest &request, quint64 id) const;
    void unreachable(const QString &why, const QString &requestNote);
    void follow(const PanelWire::PanelState &panel);
    void endMove(const QString &moveNote);
    void publish();

    QString panelName;
    PanelSnapshot shared;
    // The last snapshot announced to waiting readers.
    PanelSnapshot published;
    std::optional<Move> move;
    quint64 lastMoveId = 0;
    // What became of the last request, told after the state until the next request.
    QString note;
};

#endif // PANELTRACKER_H
