#include "session/configuration.h"

#include <cstring>

#include "config/config.h"
#include "telegram/meter.h"

namespace vdx {

bool loadConfiguration(const char* path, std::string* problem) {
    const bool read = readConfigFileFrom(path != nullptr ? path : kConfigFileName, problem);
    if (!read && path == nullptr && problem != nullptr) *problem += " (all meter addresses and keys are zero)";
    loadKeyTable();
    loadMeterAddresses();
    return read;
}

void loadMeterAddresses() {
    for (int m = 0; m < kMeterCount; ++m) hexToBytes(configLines[m], meterTable[m].manufacturer, kAddressSize);
}

Rig configurationRig(bool plain, double interval) {
    Rig rig;
    rig.interval = interval;
    for (int m = 0; m < kMeterCount; ++m) {
        SimMeter meter;
        meter.record = meterTable[m];
        std::memcpy(meter.key, keyTable[m], sizeof meter.key);
        meter.security = plain ? Security::None : Security::Mode7;
        rig.meters.push_back(meter);
    }
    return rig;
}

}  // namespace vdx
