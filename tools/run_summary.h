// What the tools count over a run for its summary line: the fault
// telegrams sent per kind, the faults that could not apply per kind, and
// the schedule slots skipped.
#pragma once

#include <cstdint>
#include <string>

#include "session/rig_run.h"

namespace vdx {

class RunSummary {
public:
    // Counts one planned telegram; `sent`: it went out (a fault telegram
    // that was written counts as sent: it went on the air).
    void count(const RigRun::Planned& p, bool sent);
    // "; 4 held for duty cycle; 2 skipped, transmitter busy; faults sent: replay 1, bad-mac 2;
    // counter-rewind: 1 could not apply; 27 slots skipped", each part only
    // where there is something to count; empty when there is nothing.
    std::string text() const;

private:
    static constexpr int kKinds = kFaultKinds;
    uint64_t sent_[kKinds] = {}, notApplied_[kKinds] = {};
    uint64_t skipped_ = 0, held_ = 0, busy_ = 0;
};

}  // namespace vdx
