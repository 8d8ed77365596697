#include "paneltracker.h"

#include "panelwire.h"

using State = PanelSnapshot::State;
using Kind = PanelRequest::Kind;

PanelTracker::PanelTracker(const QUrl &panel)
    : panelName(panel.toString())
{
    shared.status = QStringLiteral("Waiting for the panel at %1 to answer.").arg(panelName);
}

std::optional<PanelVerdict> PanelTracker::refusalUnsent(const PanelRequest &request) const
{
    if (lostReason.isEmpty())
        return std::nullopt;
    return verdict(QStringLiteral("%1 was not sent: the panel at %2 cannot be reached: %3")
                       .arg(request.describe(), panelName, lostReason));
}

// Connect on a fault the panel reports is the operator's close, then connect.
QVariantList PanelTracker::callsFor(const PanelRequest &request) const
{
    QVariantList calls { PanelWire::getState() };
    if (request.kind == Kind::Connect && shared.state == State::Fault && lostReason.isEmpty())
        calls.append(PanelWire::callFor({ Kind::Close }));
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

void PanelTracker::limitsAndStateAnswered(const QVariant &answers)
{
    const QVariantList list = answers.toList();
    shared.limits = PanelWire::limitsOf(PanelWire::resultOf(list.value(0)));
    stateAnswered(PanelWire::resultOf(list.value(1)));
}

void PanelTracker::stateFailed(const Failure &failure)
{
    unreachable(failure.transport ? failure.text
                                  : QStringLiteral("it answered getState with %1 (%2)")
                                        .arg(failure.text)
                                        .arg(failure.code),
        QString());
}

PanelVerdict PanelTracker::requestAnswered(const PanelRequest &request, const QVariant &answers)
{
    const QVariantList list = answers.toList();
    // Without the states around it nothing can be told of the request.
    for (const QVariant &reading : { list.value(0), list.value(list.size() - 1) }) {
        const QVariant state = PanelWire::resultOf(reading);
        if (!PanelWire::isState(state)) {
            stateAnswered(state);
            return verdict(QStringLiteral("%1 failed: %2").arg(request.describe(), shared.status));
        }
    }
    const PanelWire::PanelState before
        = PanelWire::stateOf(PanelWire::resultOf(list.constFirst()).toMap());
    const QString refusal = refusalOf(request, list, before);
    if (!refusal.isEmpty()) {
        note = refusal;
    } else {
        note.clear();
        if (request.isMotion())
            move = Move { request, before.readBacks };
        else if (request.kind == Kind::Close && move)
            endMove(QStringLiteral("Close ended %1.").arg(move->request.describe()));
    }
    follow(PanelWire::stateOf(PanelWire::resultOf(list.constLast()).toMap()));
    return verdict(refusal, PanelWire::isOutOfRange(refusal));
}

PanelVerdict PanelTracker::requestFailed(const PanelRequest &request, const Failure &failure)
{
    const QString what = QStringLiteral("%1 failed: the panel answered %2 (%3).")
                             .arg(request.describe(), failure.text, QString::number(failure.code));
    if (failure.transport) {
        unreachable(failure.text, what);
    } else {
        note = what;
        publish();
    }
    return verdict(what);
}

// The setters answer with their verdict. Connect answers nothing: the panel's table in the
// state before it tells whether it was taken. Close always is.
QString PanelTracker::refusalOf(const PanelRequest &request, const QVariantList &answers,
    const PanelWire::PanelState &before) const
{
    const QVariant answer = answers.value(answers.size() - 2);
    const QString fault = PanelWire::faultOf(answer);
    if (!fault.isEmpty())
        return QStringLiteral("%1 failed: the panel answered %2.").arg(request.describe(), fault);
    if (request.kind == Kind::Close)
        return QString();
    if (request.kind == Kind::Connect) {
        // Four answers: the port was closed first, so connect was taken. A ready instrument
        // is connected already, and clients that always connect first have long relied on
        // that being no error.
        if (before.offersConnect || answers.size() > 3 || before.state == State::On)
            return QString();
        return QStringLiteral("Connect was not taken: the panel offers no connect while it "
                              "shows \"%1\".")
            .arg(before.text);
    }
    const QString words = PanelWire::verdictOf(answer);
    if (words.isNull())
        return QStringLiteral("%1 failed: the panel answered no verdict.").arg(request.describe());
    if (words.isEmpty())
        return QString();
    return QStringLiteral("%1 was not taken: the panel answered \"%2\".")
        .arg(request.describe(), words);
}

PanelVerdict PanelTracker::verdict(const QString &refusal, bool outOfRange) const
{
    return { refusal.isEmpty(), outOfRange, shared.state, refusal };
}

// A move under way cannot be followed any more; the request that found the panel gone, if
// one did, is told after it.
void PanelTracker::unreachable(const QString &why, const QString &requestNote)
{
    if (move) {
        const QString ended = QStringLiteral("%1 was interrupted: the panel could not be reached.")
                                  .arg(move->request.describe());
        endMove(requestNote.isEmpty() ? ended : ended + u' ' + requestNote);
    } else if (!requestNote.isEmpty()) {
        note = requestNote;
    }
    lostReason = why;
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
    lostReason.clear();

    if (move) {
        if (panel.state == State::Fault)
            endMove(QStringLiteral("%1 failed.").arg(move->request.describe()));
        else if (panel.state == State::Off)
            endMove(QStringLiteral("%1 ended: the port was closed.").arg(move->request.describe()));
        else if (panel.state == State::On && panel.readBacks > move->takenAt)
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

// The limits are told once and never change.
void PanelTracker::publish()
{
    const PanelSnapshot &last = published;
    if (last.generation != 0 && last.state == shared.state && last.status == shared.status
        && last.readBack == shared.readBack && last.wavelength == shared.wavelength
        && last.position == shared.position && last.entranceSlit == shared.entranceSlit
        && last.exitSlit == shared.exitSlit && last.grating == shared.grating
        && last.limits.has_value() == shared.limits.has_value())
        return;
    ++shared.generation;
    published = shared;
}
