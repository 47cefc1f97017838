// Opening the transport that discovery recorded, and closing it.
#include <string>

#include "link/link.h"
#include "link/stick_transport.h"
#include "link/trace.h"

namespace vdx {
int openStick() {
    StickTransport* t = activeTransport();
    return t != nullptr ? t->open() : 0;
}

int openFtdiStick() { return transportOf(TransportKind::Ftdi)->open(); }
int openComPort() { return transportOf(TransportKind::ComPort)->open(); }

void closeStick() {
    if (StickTransport* t = activeTransport()) t->close();
}

int reopenStick() {
    closeStick();
    const LinkState before = linkState;  // closed: no handles
    LinkQuiet quiet;
    // the stick that was lost is taken again when it is back; another one
    // only when it is not (and never when the user chose the stick)
    const std::string lostStick = linkState.stickId;
    linkState.transportKind = TransportKind::None;
    linkState.stickFound = 0;
    linkState.portName[0] = linkState.stickId[0] = linkState.stickType[0] = '\0';
    if (findStick(lostStick.c_str()) == 1 && openStick() == 1) return 1;
    closeStick();
    linkState = before;
    return 0;
}

std::string explainOpenFailure() {
    StickTransport* t = activeTransport();
    return std::string("cannot open USB RF stick ") + linkState.stickId + (t != nullptr ? t->failurePlace() : "") +
           ": " + lastOpenFailure();
}

}  // namespace vdx
