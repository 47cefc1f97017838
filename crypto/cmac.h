// AES-CMAC (NIST SP 800-38B, RFC 4493) with the full 16-byte tag.
//
// Both operations read exactly 16 bytes of `key`, so a key schedule may be
// passed in place of its key. The key is expanded once per call;
// no state is kept between calls.
#pragma once

#include <cstdint>

namespace vdx {

// Writes the subkeys K1 and K2 of `key`.
void cmacSubkeys(const uint8_t key[16], uint8_t k1[16], uint8_t k2[16]);

// Writes the 16-byte CMAC of `length` bytes of `message` under `key`. A
// negative length counts as the empty message. The message is never written.
void cmacCompute(const uint8_t key[16], const uint8_t* message, int32_t length, uint8_t tag[16]);

}  // namespace vdx
