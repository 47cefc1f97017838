// The send loop both front ends run: the window (woken by its toolkit's
// timers and input watch) and verdanox-send (woken by a blocking wait). It
// owns what a send tick does, how what the stick sends is drained, what a
// hang-up means and what happens while the link is closed; the front ends
// only decide when to call it.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>

#include "link/keeper.h"
#include "link/link.h"
#include "telegram/send_cycle.h"

namespace vdx {

class SendLoop {
public:
    // A line for the user: the stick stopped taking telegrams, or it is back.
    std::function<void(const std::string&line)> troubleStarted, troubleEnded;
    // Runs before the link is closed after a loss, so that a front end that
    // watches its descriptor stops watching first.
    std::function<void()> beforeClose;

    SendLoop();

    // One send tick: a lost stick is looked for again (quietly), then, with
    // sending on, the current meter's address frame and telegram go out;
    // the telegram counts only when both were written whole, and one that
    // was not written means the stick is lost. True when it went out.
    bool tick(bool encrypted, const CountDisplay& show, SentTelegram* sent = nullptr);
    // The same for a telegram built already (a rig's): writes it, marks it
    // delivered or not, and tells the keeper.
    bool send(SentTelegram& telegram);

    // One run of the receive poll; a device that went away is lost.
    ReceiveResult receive();

    // The link's descriptor for a toolkit to watch for input, or kNoHandle:
    // then the front end polls (every kReceivePollMs) while the link is
    // open, and a closed link has nothing to drain until a tick opens it.
    LinkHandle watchHandle() const { return linkWatchHandle(); }

    // For a front end without an event loop: takes what the stick sends off
    // the link, one frame per readiness, until the platform clock reaches
    // `deadlineMs` or `stop` is set (by a signal). It waits at most
    // kLongestWaitMs at a time, so a stop request is seen soon also where a
    // wait is not interrupted by the signal.
    void drainUntil(uint64_t deadlineMs, const volatile std::sig_atomic_t& stop);

    bool lost() const { return keeper_.lost(); }

    static constexpr uint32_t kReceivePollMs = 1;
    static constexpr uint32_t kLongestWaitMs = 100;

private:
    LinkKeeper keeper_;
};

}  // namespace vdx
