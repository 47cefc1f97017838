// AES-128 CBC encryption with the chaining value held by the caller, and the
// single-block ECB step that CMAC is built on. Nothing here keeps state
// between calls, so chains of several callers never mix.
//
// Lengths are 8-bit byte counts. 0 means no block. A length that is not a
// multiple of 16 encrypts only its whole blocks and leaves the trailing
// partial block untouched: nothing is read or written past `length` bytes.
#pragma once

#include <cstdint>

namespace vdx {

// CBC-encrypts `length` bytes of `buffer` in place, starting from
// `chainingValue` (the initialisation vector of a new chain), and leaves the
// last ciphertext block there. Two calls with the same chaining value form
// one chain.
void cbcEncrypt(uint8_t chainingValue[16], uint8_t* buffer, uint8_t length, const uint8_t schedule[176]);

// Expands `key` (only its first 16 bytes are read, so a key schedule may be
// passed) and encrypts each 16-byte block of `buffer` on its own.
void ecbEncrypt(uint8_t* buffer, uint8_t length, const uint8_t key[16]);

}  // namespace vdx
