#include "session/send_session.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "config/config.h"
#include "link/link.h"

namespace vdx {
namespace {

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// How long one wait for the stick may last, so that a stop request (a
// signal) is seen soon even where the wait is not interrupted by it.
constexpr double kLongestWaitSeconds = 0.1;

}  // namespace

SendSession::~SendSession() { closeStick(); }

bool SendSession::open(std::string* why) {
    if (findStick() == 0) return *why = explainStickNotFound(), false;
    if (openStick() == 0) return *why = explainOpenFailure(), false;
    return true;
}

void SendSession::run(const SendPlan& plan, const volatile std::sig_atomic_t& stop) {
    keeper_.troubleStarted = keeper_.troubleEnded = [this](const std::string& line) {
        if (tell) tell(line);
    };
    for (int m = 0; m < kMeterCount; ++m) loadMeterAddress(m);
    startSending([](int, const char*) {});
    double next = nowSeconds();
    for (long sent = 0; !stop && (plan.telegrams == 0 || sent < plan.telegrams); ++sent) {
        keeper_.tickStarting();
        SentTelegram telegram;
        const bool ok = sendTick(
            !plan.plain, keyTable, writeFrame, [](int, const char*) {}, &telegram);
        keeper_.tickDone(true, ok);
        ++(ok ? delivered_ : lost_);
        if (report) report(telegram);
        if (plan.telegrams != 0 && sent + 1 == plan.telegrams) break;
        next += plan.intervalSeconds;
        drainUntil(next, stop);
    }
}

// Takes what the stick sends off the link, one frame per readiness, until
// the next telegram is due: the window's receive poll, without a window.
void SendSession::drainUntil(double deadline, const volatile std::sig_atomic_t& stop) {
    for (double now = nowSeconds(); !stop && now < deadline; now = nowSeconds()) {
        const double wait = std::min(deadline - now, kLongestWaitSeconds);
        if (!linkIsOpen()) {  // lost: the next tick tries to open it again
            std::this_thread::sleep_for(std::chrono::duration<double>(wait));
            continue;
        }
        const WaitResult ready = waitForInput(static_cast<uint32_t>(wait * 1000) + 1);
        if (ready == WaitResult::HungUp || (ready == WaitResult::Ready && receivePoll() == ReceiveResult::HungUp))
            keeper_.hungUp();
    }
}

}  // namespace vdx
