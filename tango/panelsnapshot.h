#ifndef PANELSNAPSHOT_H
#define PANELSNAPSHOT_H

#include <QString>
#include <QtGlobal>

// What the device server knows of the panel and its instrument at one moment: the state it
// reports to control-system clients, why, and the last read-back.
struct PanelSnapshot
{
    enum class State {
        // The instrument is not connected, still starting, or busy with a request that did
        // not come through this server.
        Off,
        // Ready, and the read-outs are the instrument's read-back.
        On,
        // A request from this server is under way, until its read-back has arrived.
        Moving,
        // The panel cannot be reached.
        Fault,
    };

    State state = State::Off;
    QString status;
    double wavelength = 0.0;
    int position = 0;
    int entranceSlit = 0;
    int exitSlit = 0;
    int grating = 0;
    // Counts the changes, so that a waiting reader can tell a new snapshot from one it has seen.
    quint64 generation = 0;
};

#endif // PANELSNAPSHOT_H
