#ifndef PANELTRACKER_H
#define PANELTRACKER_H

#include "panelrequest.h"
#include "panelsnapshot.h"
#include "panelverdict.h"

#include <QString>
#include <QUrl>
#include <QVariant>

#include <optional>

namespace PanelWire {
struct PanelState;
}

// What the device server makes of the panel's answers: the snapshot it publishes, which calls
// carry out a request and what became of it. It only decides; PanelMirror makes the calls and
// hands it their outcome.
//
// A request goes out in one multicall between two readings of the panel's state; the panel's
// own answer to it says whether it was taken. The panel counts its read-backs, so the first
// reading tells which count a motion taken must pass: the device stays MOVING until the panel
// is ready again with a higher count, and the motion fails as soon as the panel reports a
// fault.
class PanelTracker
{
public:
    explicit PanelTracker(const QUrl &panel);

    // Its generation grows with every change.
    const PanelSnapshot &snapshot() const { return shared; }

    // A request cannot even be sent while the panel cannot be reached: refused at once.
    std::optional<PanelVerdict> refusalUnsent(const PanelRequest &request) const;
    // The multicall that carries out a request.
    QVariantList callsFor(const PanelRequest &request) const;

    // A call answered with a fault by the panel itself, or not answered (transport).
    struct Failure
    {
        int code = 0;
        QString text;
        bool transport = false;
    };

    void stateAnswered(const QVariant &answer);
    // A poll's multicall of getLimits and getState, until the panel has told its limits.
    void limitsAndStateAnswered(const QVariant &answers);
    void stateFailed(const Failure &failure);
    PanelVerdict requestAnswered(const PanelRequest &request, const QVariant &answers);
    PanelVerdict requestFailed(const PanelRequest &request, const Failure &failure);

private:
    struct Move
    {
        PanelRequest request;
        // The panel's read-back count when it took the request.
        int takenAt = 0;
    };

    QString refusalOf(const PanelRequest &request, const QVariantList &answers,
        const PanelWire::PanelState &before) const;
    PanelVerdict verdict(const QString &refusal, bool outOfRange = false) const;
    void unreachable(const QString &why, const QString &requestNote);
    void follow(const PanelWire::PanelState &panel);
    void endMove(const QString &moveNote);
    void publish();

    QString panelName;
    PanelSnapshot shared;
    // The last snapshot announced to waiting readers.
    PanelSnapshot published;
    std::optional<Move> move;
    // Why the last call to the panel went unanswered; empty once it answers.
    QString lostReason;
    // What became of the last request, told after the state until the next request.
    QString note;
};

#endif // PANELTRACKER_H
