#include "session/send_session.h"

#include "link/link.h"

namespace vdx {

SendSession::~SendSession() { closeStick(); }

bool SendSession::open(std::string* why) {
    if (findStick() == 0) return *why = explainStickNotFound(), false;
    if (openStick() == 0) return *why = explainOpenFailure(), false;
    return true;
}

void SendSession::run(RigRun& run, long telegrams, const volatile std::sig_atomic_t& stop) {
    loop_.troubleStarted = loop_.troubleEnded = [this](const std::string& line) {
        if (tell) tell(line);
    };
    const uint64_t start = linkPlatform().monotonicMs();
    for (long sent = 0; !stop && (telegrams == 0 || sent < telegrams); ++sent) {
        RigRun::Planned p = run.next();
        if (p.pastEnd) {
            reachedEnd_ = true;
            break;
        }
        loop_.drainUntil(start + p.atMs, stop);
        if (stop) break;
        ++(loop_.send(p.telegram) ? delivered_ : lost_);
        if (report) report(p);
    }
}

}  // namespace vdx
