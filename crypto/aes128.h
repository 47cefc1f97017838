// AES-128 block cipher, encryption direction only (FIPS-197).
//
// Byte order: block byte i is FIPS-197 input byte in[i] (state row i mod 4,
// column i div 4). A key schedule is the 44 words w[0..43], 176 bytes, and its
// first 16 bytes are the key itself, so a schedule may be passed wherever a
// 16-byte key is read.
#pragma once

#include <cstdint>

namespace vdx {

constexpr int kAesBlockSize = 16;
constexpr int kAesKeySize = 16;
constexpr int kAesScheduleSize = 176;

// Writes the 176-byte key schedule of a 16-byte key (FIPS-197 section 5.2).
void aesExpandKey(const uint8_t key[16], uint8_t schedule[176]);

// Writes the encryption of `in` under `schedule` to `out`. `in` is read in full
// before `out` is written, so in == out is allowed.
void aesEncryptBlock(const uint8_t in[16], uint8_t out[16], const uint8_t schedule[176]);

// MixColumns on one column (byte 0 is row 0), in place.
void aesMixColumn(uint8_t column[4]);

}  // namespace vdx
