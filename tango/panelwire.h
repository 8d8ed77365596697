#ifndef PANELWIRE_H
#define PANELWIRE_H

#include "panellimits.h"
#include "panelrequest.h"
#include "panelsnapshot.h"

#include <QString>
#include <QVariant>

#include <optional>

// The device server's side of the panel's remote-control port: the calls it makes, as entries of
// a multicall, and what it reads of the answers.
namespace PanelWire {

// What getState tells of the panel, in the device's terms.
struct PanelState
{
    PanelSnapshot::State state = PanelSnapshot::State::Fault;
    // The instrument is ready and its values are being read back: MOVING all the same.
    bool readingBack = false;
    QString text;
    QString reason;
    int readBacks = 0;
    // Whether the panel would take connect now.
    bool offersConnect = false;
    double wavelength = 0.0;
    int position = 0;
    int inSlit = 0;
    int outSlit = 0;
    int grating = 0;
};

QVariantMap getState();
QVariantMap getLimits();
// The call that carries out request.
QVariantMap callFor(const PanelRequest &request);

// Whether answer is getState's: a struct with a state name.
bool isState(const QVariant &answer);
PanelState stateOf(const QVariantMap &answer);
// The ranges of getLimits' answer; none when it is not one.
std::optional<PanelLimits> limitsOf(const QVariant &answer);
// One answer of a multicall: the result in a one-element list, or a fault struct.
QVariant resultOf(const QVariant &answer);
// A setter's verdict: empty when the panel took the request, else why not; null when the answer
// is no verdict.
QString verdictOf(const QVariant &answer);
// Whether the panel refused the value for being outside its limits.
bool isOutOfRange(const QString &verdict);
// A fault struct as "faultString (faultCode)"; empty for anything else.
QString faultOf(const QVariant &answer);

} // namespace PanelWire

#endif // PANELWIRE_H
