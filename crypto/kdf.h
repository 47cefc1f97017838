// OMS security mode 7 key derivation (key derivation function A):
// Kenc and Kmac are the AES-CMAC, under the meter key, of a 16-byte block
//   offset 0  1  derivation constant (0x00 Kenc, 0x01 Kmac)
//   offset 1  4  message counter, low byte first
//   offset 5  4  identification number, as stored (radio order)
//   offset 9  7  0x07 each
#pragma once

#include <cstdint>

namespace vdx {

void buildEncKeyBlock(uint8_t block[16], const uint8_t identNumber[4], uint32_t counter);
void buildMacKeyBlock(uint8_t block[16], const uint8_t identNumber[4], uint32_t counter);

// Overwrites `size` bytes so that the compiler cannot drop the store.
void secureWipe(void* data, unsigned size);

}  // namespace vdx
