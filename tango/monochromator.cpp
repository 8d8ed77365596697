#include "monochromator.h"

#include "panelmirror.h"
#include "tangolog.h"

#include <QThread>
#include <QUrl>

#include <optional>

namespace {

Tango::DevState tangoState(PanelSnapshot::State state)
{
    switch (state) {
    case PanelSnapshot::State::On:
        return Tango::ON;
    case PanelSnapshot::State::Moving:
        return Tango::MOVING;
    case PanelSnapshot::State::Fault:
        return Tango::FAULT;
    case PanelSnapshot::State::Init:
        return Tango::INIT;
    case PanelSnapshot::State::Off:
        break;
    }
    return Tango::OFF;
}

// Values never read back are no values; a faulty instrument's are stale; a moving
// instrument's are about to change.
Tango::AttrQuality quality(const PanelSnapshot &snapshot)
{
    if (!snapshot.readBack || snapshot.state == PanelSnapshot::State::Fault)
        return Tango::ATTR_INVALID;
    if (snapshot.state == PanelSnapshot::State::Moving)
        return Tango::ATTR_CHANGING;
    return Tango::ATTR_VALID;
}

const char *const valueAttributes[]
    = { "Wavelength", "Position", "EntranceSlit", "ExitSlit", "Grating" };

const char *refusalReason(const PanelVerdict &verdict)
{
    if (verdict.outOfRange)
        return "Monochromator_OutOfRange";
    switch (verdict.state) {
    case PanelSnapshot::State::Moving:
        return "Monochromator_Moving";
    case PanelSnapshot::State::Fault:
        return "Monochromator_Fault";
    default:
        return "Monochromator_NotReady";
    }
}

// A bound set at run time is also stored in the database, if there is one (set_properties would
// do the same, but cppTango 9.3's crashes without a database). Tango refuses a minimum at or
// above the maximum it has: a range above the one it has (kept in the database from an earlier
// run) takes its maximum first.
template<typename Value>
void setRange(Tango::WAttribute &attribute, const PanelLimits::Range &range)
{
    const auto minimum = static_cast<Value>(range.minimum);
    const auto maximum = static_cast<Value>(range.maximum);
    Value kept {};
    if (attribute.is_max_value())
        attribute.get_max_value(kept);
    const bool above = attribute.is_max_value() && minimum >= kept;
    if (above)
        attribute.set_max_value(maximum);
    attribute.set_min_value(minimum);
    if (!above)
        attribute.set_max_value(maximum);
}

} // namespace

Monochromator::Monochromator(
    Tango::DeviceClass *deviceClass, const char *name, const char *description)
    : TANGO_BASE_CLASS(deviceClass, name, description)
{
    init_device();
}

Monochromator::~Monochromator()
{
    delete_device();
}

void Monochromator::init_device()
{
    // Pushed by the device itself, so that clients and the archiver need no polling.
    set_change_event("State", true, false);
    set_archive_event("State", true, false);
    for (const char *name : valueAttributes) {
        set_change_event(name, true, false);
        set_archive_event(name, true, false);
    }

    mirrorThread = std::make_unique<QThread>();
    mirror = new PanelMirror(QUrl(QString::fromStdString(panelUrl())));
    mirror->moveToThread(mirrorThread.get());
    QObject::connect(mirrorThread.get(), &QThread::started, mirror, &PanelMirror::start);
    QObject::connect(mirrorThread.get(), &QThread::finished, mirror, &QObject::deleteLater);
    mirrorThread->start();
    pusher = std::thread(&Monochromator::pushChanges, this);
}

void Monochromator::delete_device()
{
    if (!mirror)
        return;
    mirror->stopWaiting();
    pusher.join();
    mirrorThread->quit();
    mirrorThread->wait();
    mirrorThread.reset();
    mirror = nullptr;
}

std::string Monochromator::panelUrl()
{
    std::string url = defaultPanelUrl;
    if (!Tango::Util::_UseDb)
        return url;
    Tango::DbData ofClass { Tango::DbDatum("PanelUrl") };
    get_device_class()->get_db_class()->get_property(ofClass);
    if (!ofClass[0].is_empty())
        ofClass[0] >> url;
    Tango::DbData ofDevice { Tango::DbDatum("PanelUrl") };
    get_db_device()->get_property(ofDevice);
    if (!ofDevice[0].is_empty())
        ofDevice[0] >> url;
    return url;
}

Tango::DevState Monochromator::dev_state()
{
    const Tango::DevState state = tangoState(mirror->snapshot().state);
    set_state(state);
    return state;
}

Tango::ConstDevString Monochromator::dev_status()
{
    set_status(mirror->snapshot().status.toStdString());
    return get_status().c_str();
}

template<typename Value>
void Monochromator::readInto(Tango::Attribute &attribute, Value *value)
{
    const PanelSnapshot snapshot = mirror->snapshot();
    wavelength = snapshot.wavelength;
    position = snapshot.position;
    entranceSlit = snapshot.entranceSlit;
    exitSlit = snapshot.exitSlit;
    grating = static_cast<Tango::DevShort>(snapshot.grating);
    attribute.set_value(value);
    // After the value, which makes it valid.
    attribute.set_quality(quality(snapshot));
}

void Monochromator::readWavelength(Tango::Attribute &attribute)
{
    readInto(attribute, &wavelength);
}

void Monochromator::readPosition(Tango::Attribute &attribute)
{
    readInto(attribute, &position);
}

void Monochromator::readEntranceSlit(Tango::Attribute &attribute)
{
    readInto(attribute, &entranceSlit);
}

void Monochromator::readExitSlit(Tango::Attribute &attribute)
{
    readInto(attribute, &exitSlit);
}

void Monochromator::readGrating(Tango::Attribute &attribute)
{
    readInto(attribute, &grating);
}

template<typename Value>
void Monochromator::writeAs(Tango::WAttribute &attribute, PanelRequest::Kind kind)
{
    Value value {};
    attribute.get_write_value(value);
    startRequest(kind, value);
}

void Monochromator::writeWavelength(Tango::WAttribute &attribute)
{
    writeAs<Tango::DevDouble>(attribute, PanelRequest::Kind::Wavelength);
}

void Monochromator::writeEntranceSlit(Tango::WAttribute &attribute)
{
    writeAs<Tango::DevLong>(attribute, PanelRequest::Kind::EntranceSlit);
}

void Monochromator::writeExitSlit(Tango::WAttribute &attribute)
{
    writeAs<Tango::DevLong>(attribute, PanelRequest::Kind::ExitSlit);
}

void Monochromator::writeGrating(Tango::WAttribute &attribute)
{
    writeAs<Tango::DevShort>(attribute, PanelRequest::Kind::Grating);
}

void Monochromator::connectInstrument()
{
    startRequest(PanelRequest::Kind::Connect, 0.0);
}

void Monochromator::closeInstrument()
{
    startRequest(PanelRequest::Kind::Close, 0.0);
}

void Monochromator::moveRelative(Tango::DevLong steps)
{
    startRequest(PanelRequest::Kind::MoveRelative, steps);
}

// The caller waits for the panel's verdict, holding the device's monitor: the mirror never
// takes it, and the thread that pushes the events waits for it no longer than the verdict
// takes. A request the panel did not take fails loudly, in the panel's words: a scan must never
// believe that a move happened.
void Monochromator::startRequest(PanelRequest::Kind kind, double value)
{
    const PanelRequest request { kind, value };
    const PanelVerdict verdict = mirror->request(request);
    qCDebug(lcTango).noquote() << (verdict.taken ? request.describe() + QStringLiteral(" taken")
                                                 : verdict.text);
    if (verdict.taken)
        return;
    Tango::Except::throw_exception(refusalReason(verdict), verdict.text.toStdString(),
        "Monochromator::" + request.describe().section(u' ', 0, 0).toStdString());
}

// The values of a change go out before its State event: a client that reads on the end of
// MOVING must find the new values there.
void Monochromator::pushChanges()
{
    // Tango's monitor tells threads apart by their omni_thread.
    omni_thread::ensure_self self;
    std::optional<PanelSnapshot> last;
    bool limitsSet = false;
    quint64 seen = 0;
    while (const std::optional<PanelSnapshot> now = mirror->waitForChange(seen)) {
        seen = now->generation;
        try {
            Tango::AutoTangoMonitor guard(this);
            struct timeval stamp;
            gettimeofday(&stamp, nullptr);
            const Tango::AttrQuality currentQuality = quality(*now);
            const bool qualityChanged = !last || quality(*last) != currentQuality;
            const auto push = [&](const char *name, auto *pushed, auto value, auto before) {
                if (!qualityChanged && before == value)
                    return;
                *pushed = value;
                push_change_event(name, pushed, stamp, currentQuality);
                push_archive_event(name, pushed, stamp, currentQuality);
            };
            const PanelSnapshot previous = last.value_or(PanelSnapshot());
            // A database that does not take the limits now must not hold the events back: the
            // next change tries again.
            if (now->limits && !limitsSet) {
                try {
                    setLimits(*now->limits);
                    limitsSet = true;
                } catch (const Tango::DevFailed &) { }
            }
            push("Wavelength", &pushed.wavelength, now->wavelength, previous.wavelength);
            push("Position", &pushed.position, now->position, previous.position);
            push("EntranceSlit", &pushed.entranceSlit, now->entranceSlit, previous.entranceSlit);
            push("ExitSlit", &pushed.exitSlit, now->exitSlit, previous.exitSlit);
            push("Grating", &pushed.grating, static_cast<Tango::DevShort>(now->grating),
                static_cast<Tango::DevShort>(previous.grating));
            if (now->readBack && !previous.readBack)
                setPointsFromReadBack(*now);
            if (!last || last->state != now->state || last->status != now->status) {
                set_state(tangoState(now->state));
                set_status(now->status.toStdString());
                qCDebug(lcTango).noquote() << now->status;
            }
            if (!last || last->state != now->state) {
                push_change_event("State");
                push_archive_event("State");
            }
            last = now;
        } catch (const Tango::DevFailed &) {
            // The monitor was not free in time (the device is being deleted or re-initialised):
            // the next change pushes and sets what this one would have.
        }
    }
}

// Until the instrument has been read back, a write set-point would be a guess.
void Monochromator::setPointsFromReadBack(const PanelSnapshot &snapshot)
{
    Tango::MultiAttribute *attributes = get_device_attr();
    attributes->get_w_attr_by_name("Wavelength").set_write_value(snapshot.wavelength);
    attributes->get_w_attr_by_name("EntranceSlit")
        .set_write_value(static_cast<Tango::DevLong>(snapshot.entranceSlit));
    attributes->get_w_attr_by_name("ExitSlit")
        .set_write_value(static_cast<Tango::DevLong>(snapshot.exitSlit));
    attributes->get_w_attr_by_name("Grating").set_write_value(
        static_cast<Tango::DevShort>(snapshot.grating));
}

// Tango then refuses a write outside the panel's limits before it reaches the panel; until the
// panel has told them, the panel's own verdict refuses it.
void Monochromator::setLimits(const PanelLimits &limits)
{
    Tango::MultiAttribute *attributes = get_device_attr();
    setRange<Tango::DevDouble>(attributes->get_w_attr_by_name("Wavelength"), limits.wavelength);
    setRange<Tango::DevLong>(attributes->get_w_attr_by_name("EntranceSlit"), limits.slit);
    setRange<Tango::DevLong>(attributes->get_w_attr_by_name("ExitSlit"), limits.slit);
    setRange<Tango::DevShort>(attributes->get_w_attr_by_name("Grating"), limits.grating);
}
