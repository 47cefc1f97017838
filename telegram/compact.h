// Compact frames (EN 13757-3): the application layer without its DIF/VIF
// bytes, for a receiver that learnt them from a full frame.
//
//   format            the records' DIF, DIFE, VIF and VIFE bytes, in order
//   format signature  the CRC-16 of the format (EN 13757-4's polynomial
//                     0x3D65, as the link layer's CRCs)
//   full-frame CRC    the CRC-16 of the full frame's records, DIF/VIF bytes
//                     and data, as a receiver rebuilds them from the format
//   compact layer     signature (2) | full-frame CRC (2) | each record's data
//                     (both CRCs low byte first, as every field after the
//                     link layer)
#pragma once

#include <cstddef>
#include <cstdint>

#include "telegram/layers.h"

namespace vdx {

// Sets `application`'s signature and full-frame CRC from its records.
void describeFormat(ApplicationLayer* application);

// The format signature and full-frame CRC of the records, computed afresh.
uint16_t formatSignature(const ApplicationLayer& application);
uint16_t fullFrameCrc(const ApplicationLayer& application);

// Bytes of the compact layer of `application`: 4 and the records' data.
size_t compactSize(const ApplicationLayer& application);

// Writes the compact layer (compactSize bytes) to `out`, with the
// signature and full-frame CRC the layer holds.
void writeCompact(const ApplicationLayer& application, uint8_t* out);

}  // namespace vdx
