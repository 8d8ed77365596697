#include "paneltracker.h"

#include "panelwire.h"

using State = PanelSnapshot::State;

PanelTracker::PanelTracker(const QUrl &panel)
    : panelName(panel.toString())
{
    shared.status = QStringLiteral("Waiting for the panel at %1 to answer.").arg(panelName);
}

std::optional<quint64> PanelTracker::take(const PanelRequest &request)
{
    const bool allowed = request.isMotion()
        ? shared.state == State::On
        : request.kind == PanelRequest::Kind::Close || shared.state != State::Moving;
    if (!allowed)
        return std::nullopt;
    note.clear();
    quint64 id = 0;
    if (request.isMotion()) {
        id = ++lastMoveId;
        move = Move { request, id, std::nullopt };
        // MOVING from the moment the write returns, so that a client waiting for the end of
        // MOVING cannot read ON first.
        shared.state = State::Moving;
        shared.status = QStringLiteral("Moving: %1 requested.").arg(request.describe());
    } else if (request.kind == PanelRequest::Kind::Close && move) {
        endMove(QStringLiteral("Close ended %1.").arg(move->request.describe()));
    }
    publish();
    return id;
}

// A motion goes between two readings of the state: the first tells whether the panel will
// take it and the count its read-back must pass, the second that it has. Connect on a fault is
// the operator's close, then connect.
QVariantList PanelTracker::callsFor(const PanelRequest &request, quint64 id) const
{
    QVariantList calls;
    if (request.isMotion()) {
        if (!isMove(request, id))
            return calls;
        calls.append(PanelWire::getState());
    } else if (request.kind == PanelRequest::Kind::Connect && shared.state == State::Fault) {
        calls.append(PanelWire::callFor({ PanelRequest::Kind::Close }));
    }
    calls.append(PanelWire::callFor(request));
    calls.append(PanelWire::getState());
    return calls;
}

void PanelTracker::stateAnswered(const QVariant &answer)
{
    if (!PanelWire::isState(answer)) {
        unreachable(QStringLiteral("it answered getState with %1")
                        .arg(QString::fromLatin1(answer.typeName())),
            QString());
        return;
    }
    follow(PanelWire::stateOf(answer.toMap()));
}

void PanelTracker::stateFailed(const Failure &failure)
{
    unreachable(failure.transport ? failure.text
                                  : QStringLiteral("it answered getState with %1 (%2)")
                                        .arg(failure.text)
                                        .arg(failure.code),
        QString());
}

void PanelTracker::requestAnswered(const PanelRequest &request, quint64 id, const QVariant &answers)
{
    const QVariantList list = answers.toList();
    const QVariant last = PanelWire::resultOf(list.value(list.size() - 1));
    // Without the state after it nothing can be told of the request.
    if (!PanelWire::isState(last)) {
        stateAnswered(last);
        return;
    }
    const PanelWire::PanelState after = PanelWire::stateOf(last.toMap());
    const QString fault = PanelWire::faultOf(list.value(list.size() - 2));
    if (!fault.isEmpty()) {
        const QString what
            = QStringLiteral("%1 failed: the panel answered %2.").arg(request.describe(), fault);
        if (isMove(request, id))
            endMove(what);
        else
            note = what;
    } else if (isMove(request, id)) {
        const PanelWire::PanelState before
            = PanelWire::stateOf(PanelWire::resultOf(list.value(0)).toMap());
        if (before.ready == 1 && after.ready == 0)
            move->takenAt = before.readBacks;
        else
            endMove(
                QStringLiteral("%1 was not taken: the panel was busy.").arg(request.describe()));
    }
    follow(after);
}

void PanelTracker::requestFailed(const PanelRequest &request, const Failure &failure)
{
    const QString what = QStringLiteral("%1 failed: the panel answered %2 (%3).")
                             .arg(request.describe(), failure.text, QString::number(failure.code));
    if (failure.transport) {
        unreachable(failure.text, what);
        return;
    }
    if (move && request.isMotion())
        endMove(what);
    else
        note = what;
    publish();
}

bool PanelTracker::isMove(const PanelRequest &request, quint64 id) const
{
    return request.isMotion() && move && move->id == id;
}

void PanelTracker::unreachable(const QString &why, const QString &requestNote)
{
    if (move)
        endMove(requestNote.isEmpty()
                ? QStringLiteral("%1 was interrupted: the panel could not be reached.")
                      .arg(move->request.describe())
                : requestNote);
    else if (!requestNote.isEmpty())
        note = requestNote;
    shared.state = State::Fault;
    shared.status = QStringLiteral("The panel at %1 cannot be reached: %2").arg(panelName, why);
    if (!note.isEmpty())
        shared.status += u' ' + note;
    publish();
}

void PanelTracker::follow(const PanelWire::PanelState &panel)
{
    shared.readBack = panel.readBacks > 0;
    shared.wavelength = panel.wavelength;
    shared.position = panel.position;
    shared.entranceSlit = panel.inSlit;
    shared.exitSlit = panel.outSlit;
    shared.grating = panel.grating;

    if (move && move->takenAt) {
        if (panel.state == State::Fault)
            endMove(QStringLiteral("%1 failed.").arg(move->request.describe()));
        else if (panel.state == State::Off)
            endMove(QStringLiteral("%1 ended: the port was closed.").arg(move->request.describe()));
        else if (panel.state == State::On && panel.readBacks > *move->takenAt)
            endMove(QString());
    }

    if (move) {
        shared.state = State::Moving;
        shared.status = QStringLiteral("Moving: %1 requested; waiting for %2.")
                            .arg(move->request.describe(),
                                panel.state == State::On || panel.readingBack
                                    ? QStringLiteral("its read-back")
                                    : QStringLiteral("the instrument"));
        publish();
        return;
    }
    shared.state = panel.state;
    switch (panel.state) {
    case State::On:
        shared.status = QStringLiteral("The instrument is ready.");
        break;
    case State::Moving:
        shared.status = panel.readingBack
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
        shared.status = QStringLiteral("The panel reports \"%1\"").arg(panel.text)
            + (panel.reason.isEmpty() ? QStringLiteral(".")
                                      : QStringLiteral(": %1").arg(panel.reason));
        break;
    }
    if (!note.isEmpty())
        shared.status += u' ' + note;
    if (panel.state == State::Fault)
        shared.status += QStringLiteral(" Connect closes the port and connects again.");
    publish();
}

void PanelTracker::endMove(const QString &moveNote)
{
    move.reset();
    note = moveNote;
}

void PanelTracker::publish()
{
    const PanelSnapshot &last = published;
    if (last.generation != 0 && last.state == shared.state && last.status == shared.status
        && last.readBack == shared.readBack && last.wavelength == shared.wavelength
        && last.position == shared.position && last.entranceSlit == shared.entranceSlit
        && last.exitSlit == shared.exitSlit && last.grating == shared.grating)
        return;
    ++shared.generation;
    published = shared;
}
