#include "statename.h"

#include "remotecontract.h"

QString stateName(TriaxController::State state)
{
    namespace StateName = RemoteContract::StateName;
    using State = TriaxController::State;
    switch (state) {
    case State::Closed:
        return StateName::closed;
    case State::WakingUp:
        return StateName::wakingUp;
    case State::ReadingBack:
        return StateName::readingBack;
    case State::Ready:
        return StateName::ready;
    case State::Busy:
    case State::Moving:
        return StateName::busy;
    case State::NoAnswer:
        return StateName::noAnswer;
    case State::PortLost:
        return StateName::portLost;
    case State::OpenFailed:
        return StateName::cannotOpen;
    }
    return QString();
}
