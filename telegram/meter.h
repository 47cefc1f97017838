// The ten simulated meters and the send cycle's module state.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vdx {

constexpr int kMeterCount = 10;

// One simulated meter. The eight bytes manufacturer..deviceType are the M- and
// A-fields in radio order and lie together, so they are copied as one block.
struct MeterRecord {
    uint32_t sendCount;       // SND_NR telegrams sent since the last Start
    uint8_t manufacturer[2];  // M-field
    uint8_t identNumber[4];   // identification number, BCD, low byte first
    uint8_t version;
    uint8_t deviceType;
    uint8_t accessNumber;     // of the next telegram; wraps 255 -> 0
    uint32_t messageCounter;  // of the next encrypted telegram; wraps 2^32-1 -> 0
};

constexpr size_t kAddressSize = 8;
static_assert(offsetof(MeterRecord, identNumber) == offsetof(MeterRecord, manufacturer) + 2, "radio order");
static_assert(offsetof(MeterRecord, version) == offsetof(MeterRecord, manufacturer) + 6, "radio order");
static_assert(offsetof(MeterRecord, deviceType) == offsetof(MeterRecord, manufacturer) + 7, "radio order");

extern MeterRecord meterTable[kMeterCount];
extern bool sendingEnabled;
extern uint8_t currentMeter;

}  // namespace vdx
