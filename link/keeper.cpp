#include "link/keeper.h"

#include "link/link.h"
#include "link/stick_transport.h"

namespace vdx {

const char kStickTroubleText[] = "USB RF stick not responding: telegrams are not being sent";

void LinkKeeper::tickStarting() {
    if (lost_) reopenStick();
}

void LinkKeeper::tickDone(bool sent, bool delivered) {
    if (sent && !delivered) return lose();
    // over once a telegram went out again, or, with sending off, once the
    // stick could be opened again
    if (!lost_ || !linkIsOpen()) return;
    lost_ = false;
    std::string line = std::string("USB RF stick ") + getStickId() + activeTransport()->place();
    line += sent ? " is back: telegrams are being sent again" : " is back";
    if (troubleEnded) troubleEnded(line);
}

void LinkKeeper::hungUp() { lose(); }

void LinkKeeper::lose() {
    if (beforeClose) beforeClose();
    closeStick();
    if (lost_) return;
    lost_ = true;
    if (troubleStarted) troubleStarted(kStickTroubleText);
}

}  // namespace vdx
