// libFuzzer target: the rig reader over arbitrary text. A file it accepts
// must describe a rig that can run: at least one meter, distinct addresses,
// a key for every protected meter, intervals in range; a few telegrams are
// built from it, never with a meter time past 2099, and the check of the
// run's length at load agrees with the run (in "each" it may leave the end
// to the run).
#include <cstdint>
#include <set>
#include <string>

#include "config/rig.h"
#include "session/rig_run.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vdx::Rig rig;
    std::string error;
    if (!vdx::parseRig(std::string(reinterpret_cast<const char*>(data), size), "fuzz.toml", &rig, &error)) {
        if (error.rfind("fuzz.toml:", 0) != 0) __builtin_trap();  // every message says where
        return 0;
    }
    if (rig.meters.empty() || rig.meters.size() != rig.meterInterval.size()) __builtin_trap();
    std::set<std::string> addresses;
    for (size_t i = 0; i < rig.meters.size(); ++i) {
        const vdx::SimMeter& m = rig.meters[i];
        if (!addresses.insert(std::string(reinterpret_cast<const char*>(m.record.manufacturer), 8)).second)
            __builtin_trap();
        if (rig.meterInterval[i] != 0 && rig.meterInterval[i] < vdx::kMinInterval) __builtin_trap();
    }
    if (rig.interval < vdx::kMinInterval || rig.speed <= 0) __builtin_trap();
    vdx::RigRun run(rig, 0, 1769903400);
    const bool fits = run.lengthProblem(3).empty();
    bool ended = false;
    for (int t = 0; t < 3 && !ended; ++t) {
        const vdx::RigRun::Planned p = run.next();
        if ((ended = p.pastEnd)) break;
        if (vdx::stickFrameSize(p.telegram.telegramFrame) > sizeof p.telegram.telegramFrame) __builtin_trap();
        if (p.telegram.readings.time > vdx::kLastMeterTime) __builtin_trap();  // fixed readings: 2022
    }
    // the check at load never refuses a run that fits; in "turns" it is exact
    if (!fits && !ended) __builtin_trap();
    if (fits && ended && rig.schedule == vdx::ScheduleMode::Turns) __builtin_trap();
    return 0;
}
