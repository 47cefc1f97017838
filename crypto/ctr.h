// AES-128 in counter mode (NIST SP 800-38A, section 6.5), the cipher of the
// extended link layer's encryption (EN 13757-4, CI 0x8D).
//
// The counter block is held by the caller, as CBC's chaining value is: each
// 16 bytes of keystream are the encryption of the counter block, which is
// then incremented as one 128-bit big-endian number (its last byte first,
// carrying into the bytes before it). Encryption and decryption are the
// same operation. Nothing is kept between calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vdx {

// XORs `length` bytes of `buffer` in place with the keystream from
// `counterBlock` under the key schedule `schedule` (aesExpandKey), and
// leaves the counter block after the last block used: a last partial block
// uses the start of its keystream and still moves the counter on, so two
// calls chain only at whole blocks. Length 0 changes nothing.
void ctrCrypt(uint8_t counterBlock[16], uint8_t* buffer, size_t length, const uint8_t schedule[176]);

// Adds one to a 128-bit big-endian counter block (wrapping to zero).
void ctrIncrement(uint8_t counterBlock[16]);

}  // namespace vdx
