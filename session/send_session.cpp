#include "session/send_session.h"

#include <cmath>

#include "link/link.h"

namespace vdx {

SendSession::~SendSession() { closeStick(); }

bool SendSession::open(std::string* why) {
    if (findStick() == 0) return *why = explainStickNotFound(), false;
    if (openStick() == 0) return *why = explainOpenFailure(), false;
    return true;
}

void SendSession::run(const SendPlan& plan, const volatile std::sig_atomic_t& stop) {
    loop_.troubleStarted = loop_.troubleEnded = [this](const std::string& line) {
        if (tell) tell(line);
    };
    const auto noDisplay = [](int, const char*) {};
    startSending(noDisplay);
    const uint64_t intervalMs = static_cast<uint64_t>(std::llround(plan.intervalSeconds * 1000));
    uint64_t next = linkPlatform().monotonicMs();
    for (long sent = 0; !stop && (plan.telegrams == 0 || sent < plan.telegrams); ++sent) {
        SentTelegram telegram;
        const bool ok = loop_.tick(!plan.plain, noDisplay, &telegram);
        ++(ok ? delivered_ : lost_);
        if (report) report(telegram);
        if (plan.telegrams != 0 && sent + 1 == plan.telegrams) break;
        next += intervalMs;
        loop_.drainUntil(next, stop);
    }
}

}  // namespace vdx
