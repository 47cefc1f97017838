#include "session/configuration.h"

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

}  // namespace vdx
