#ifndef PANELSNAPSHOT_H
#define PANELSNAPSHOT_H

#include "panellimits.h"

#include <QString>
#include <QtGlobal>

#include <optional>

// What the device server knows of the panel and its instrument at one moment: the state it
// reports to control-system clients, why, and the last read-back.
struct PanelSnapshot
{
    enum class State {
        // The port is closed.
        Off,
        // Ready, and the read-outs are the instrument's read-back.
        On,
        // The instrument moves or is being read back, whoever asked; or a request from this
        // server is under way until its read-back has come in.
        Moving,
        // The instrument wakes up, or the panel has not answered yet.
        Init,
        // The instrument is silent, its port lost or not opened, or the panel cannot be
        // reached.
        Fault,
    };

    State state = State::Init;
    QString status;
    // Whether the values are the instrument's: false until it has been read back once.
    bool readBack = false;
    double wavelength = 0.0;
    int position = 0;
    int entranceSlit = 0;
    int exitSlit = 0;
    int grating = 0;
    // None until the panel has told them.
    std::optional<PanelLimits> limits;
    // Counts the changes, so that a waiting reader can tell a new snapshot from one it has seen.
    quint64 generation = 0;
};

#endif // PANELSNAPSHOT_H
