#include "tools/run_summary.h"

namespace vdx {

void RunSummary::count(const RigRun::Planned& p, bool sent) {
    if (sent) ++sent_[static_cast<int>(p.telegram.fault)];
    ++notApplied_[static_cast<int>(p.notApplied)];
    skipped_ += p.skipped;
    held_ += p.air.held ? 1 : 0;
    busy_ += p.air.busy ? 1 : 0;
}

std::string RunSummary::text() const {
    std::string faults, notApplied;
    for (int k = 1; k < kKinds; ++k) {
        if (sent_[k] == 0 && notApplied_[k] == 0) continue;
        const std::string name = faultName(static_cast<FaultKind>(k));
        if (sent_[k] != 0)
            faults += (faults.empty() ? "; faults sent: " : ", ") + name + " " + std::to_string(sent_[k]);
        if (notApplied_[k] != 0) notApplied += "; " + name + ": " + std::to_string(notApplied_[k]) + " could not apply";
    }
    return (held_ != 0 ? "; " + std::to_string(held_) + " held for duty cycle" : "") +
           (busy_ != 0 ? "; " + std::to_string(busy_) + " skipped, transmitter busy" : "") + faults + notApplied +
           (skipped_ != 0 ? "; " + std::to_string(skipped_) + " slots skipped" : "");
}

}  // namespace vdx
