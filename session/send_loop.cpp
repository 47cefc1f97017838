#include "session/send_loop.h"

#include <algorithm>

#include "config/config.h"
#include "telegram/sim_meter.h"

namespace vdx {

SendLoop::SendLoop() {
    keeper_.beforeClose = [this] {
        if (beforeClose) beforeClose();
    };
    keeper_.troubleStarted = [this](const std::string& line) {
        if (troubleStarted) troubleStarted(line);
    };
    keeper_.troubleEnded = [this](const std::string& line) {
        if (troubleEnded) troubleEnded(line);
    };
}

bool SendLoop::tick(bool encrypted, const CountDisplay& show, SentTelegram* sent) {
    keeper_.tickStarting();
    const bool sending = sendingEnabled;
    const bool delivered = sendTick(encrypted, keyTable, writeFrame, show, sent);
    keeper_.tickDone(sending, delivered);
    return delivered;
}

bool SendLoop::send(SentTelegram& telegram) {
    keeper_.tickStarting();
    telegram.delivered = writeTelegram(telegram, writeFrame);
    keeper_.tickDone(true, telegram.delivered);
    return telegram.delivered;
}

ReceiveResult SendLoop::receive() {
    const ReceiveResult result = receivePoll();
    if (result == ReceiveResult::HungUp) keeper_.hungUp();
    return result;
}

void SendLoop::drainUntil(uint64_t deadlineMs, const volatile std::sig_atomic_t& stop) {
    LinkPlatform& platform = linkPlatform();
    for (uint64_t now = platform.monotonicMs(); !stop && now < deadlineMs; now = platform.monotonicMs()) {
        const uint32_t wait = static_cast<uint32_t>(std::min<uint64_t>(deadlineMs - now, kLongestWaitMs));
        if (!linkIsOpen()) {  // lost: the next tick looks for it again
            platform.sleepMs(wait);
            continue;
        }
        const WaitResult ready = waitForInput(wait);
        if (ready == WaitResult::HungUp)
            keeper_.hungUp();
        else if (ready == WaitResult::Ready)
            receive();
    }
}

}  // namespace vdx
