// The long transport header (EN 13757-7, CI 0x72) that the plain and the
// encrypted telegram both carry, in one place.
#pragma once

#include <cstdint>

#include "telegram/meter.h"

namespace vdx {

//  0   1    5   7    8     9    10  11
//  CI  ID   M   ver  type  ACC  ST  CF
//  72                           00
constexpr int kLongHeaderSize = 13;

// Fills the header at `at` with the meter's address, its access number and
// the configuration word `cf` (low byte first).
void fillLongHeader(const MeterRecord& meter, uint16_t cf, uint8_t* at);

// The stick frame's command and payload length N (low byte first).
void fillStickEnvelope(uint8_t command, uint16_t n, uint8_t* frame);

}  // namespace vdx
