#ifndef REMOTECONTRACT_H
#define REMOTECONTRACT_H

#include <QLatin1String>

// What the panel's remote-control port and its clients agree on: the methods, the names of the
// instrument's states and the keys of getState's answer. The remote methods serve these names
// and the device server asks for them, so a name changed here changes both ends.
namespace RemoteContract {

// Each method is served by the slot of the same name.
namespace Method {
inline constexpr QLatin1String connect("connect");
inline constexpr QLatin1String close("close");
inline constexpr QLatin1String checkConnection("checkConnection");
inline constexpr QLatin1String status("status");
inline constexpr QLatin1String help("help");
inline constexpr QLatin1String getWavelength("getWavelength");
inline constexpr QLatin1String setWavelength("setWavelength");
inline constexpr QLatin1String moveRelative("moveRelative");
inline constexpr QLatin1String getInSlit("getInSlit");
inline constexpr QLatin1String setInSlit("setInSlit");
inline constexpr QLatin1String getOutSlit("getOutSlit");
inline constexpr QLatin1String setOutSlit("setOutSlit");
inline constexpr QLatin1String getGrating("getGrating");
inline constexpr QLatin1String setGrating("setGrating");
inline constexpr QLatin1String getPosition("getPosition");
inline constexpr QLatin1String dir("__dir__");
inline constexpr QLatin1String getState("getState");
inline constexpr QLatin1String getLimits("getLimits");
inline constexpr QLatin1String waitReady("waitReady");
inline constexpr QLatin1String getEvents("getEvents");
inline constexpr QLatin1String getVersion("getVersion");
} // namespace Method

// The codes of waitReady's faults; the fault's text says why.
namespace Fault {
// The instrument turned to a fault, or its port is closed: it will not become ready by itself.
inline constexpr int notReady = 1;
// The time ran out, or the call could not wait (inside system.multicall).
inline constexpr int timedOut = 2;
} // namespace Fault

// The value of getState's "state".
namespace StateName {
// The port is closed.
inline constexpr QLatin1String closed("closed");
// The port is open and the instrument wakes up.
inline constexpr QLatin1String wakingUp("waking up");
// The instrument is ready and its values are being read back.
inline constexpr QLatin1String readingBack("reading back");
// Ready, and every value read back.
inline constexpr QLatin1String ready("ready");
// The motor moves.
inline constexpr QLatin1String busy("busy");
// The faults: the instrument is silent, its port lost or not opened.
inline constexpr QLatin1String noAnswer("no answer");
inline constexpr QLatin1String portLost("port lost");
inline constexpr QLatin1String cannotOpen("cannot open");
} // namespace StateName

// The members of getState's answer.
namespace Key {
// A state name.
inline constexpr QLatin1String state("state");
// The status read-out, as the operator reads it.
inline constexpr QLatin1String text("text");
// Why the instrument is in a fault; empty otherwise.
inline constexpr QLatin1String reason("reason");
// How many complete read-backs there have been: grows by one after every motion.
inline constexpr QLatin1String readBacks("readBacks");
// 1 while a motion is taken, else 0.
inline constexpr QLatin1String ready("ready");
inline constexpr QLatin1String wavelength("wavelength");
inline constexpr QLatin1String position("position");
inline constexpr QLatin1String inSlit("inSlit");
inline constexpr QLatin1String outSlit("outSlit");
inline constexpr QLatin1String grating("grating");
// What the instrument takes now, a struct of three booleans (Accepts).
inline constexpr QLatin1String accepts("accepts");
} // namespace Key

// The members of getState's "accepts": whether connect and close are offered, and whether the
// setters' requests would be taken.
namespace Accepts {
inline constexpr QLatin1String connect("connect");
inline constexpr QLatin1String close("close");
inline constexpr QLatin1String requests("requests");
} // namespace Accepts

// The members of each event that getEvents answers.
namespace Event {
// Rises with every event; an event repeated takes a new one.
inline constexpr QLatin1String id("id");
// UTC, ISO 8601 with milliseconds: "2026-12-10T12:00:00.000Z".
inline constexpr QLatin1String time("time");
// Who asked ("the window", a client's address) or what tells ("instrument", "remote control").
inline constexpr QLatin1String origin("origin");
inline constexpr QLatin1String text("text");
// "taken", "refused", "state" or "warning".
inline constexpr QLatin1String kind("kind");
// How often the event came in a row.
inline constexpr QLatin1String count("count");
} // namespace Event

// The members of getLimits' answer, one for each limit of a request, and the members of each.
namespace Limit {
inline constexpr QLatin1String wavelength("wavelength");
inline constexpr QLatin1String slit("slit");
inline constexpr QLatin1String grating("grating");
inline constexpr QLatin1String relativeMove("relativeMove");

inline constexpr QLatin1String minimum("minimum");
inline constexpr QLatin1String maximum("maximum");
// Decimals a request may carry.
inline constexpr QLatin1String decimals("decimals");
// Empty for a plain number.
inline constexpr QLatin1String unit("unit");
inline constexpr QLatin1String reason("reason");
} // namespace Limit

} // namespace RemoteContract

#endif // REMOTECONTRACT_H
