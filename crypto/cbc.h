// AES-128 CBC encryption with one process-wide chaining value, and the
// single-block ECB step that CMAC is built on.
//
// Lengths are 8-bit byte counts. 0 means no block. The callers pass 80
// (telegram payload) and 16 (CMAC block step). A length that is not a
// multiple of 16 encrypts only its whole blocks and leaves the trailing
// partial block untouched: nothing is read or written past `length` bytes.
#pragma once

#include <cstdint>

namespace vdx {

// Sets the chaining value to 16 zero bytes.
void cbcReset();

// Sets the chaining value to `iv`: the next cbcEncrypt starts a chain with
// that initialisation vector.
void cbcStart(const uint8_t iv[16]);

// CBC-encrypts `length` bytes of `buffer` in place, starting from the chaining
// value, and leaves the last ciphertext block in the chaining value. Two calls
// without a reset between them form one chain.
void cbcEncrypt(uint8_t* buffer, uint8_t length, const uint8_t schedule[176]);

// Sets the chaining value to zero, expands `key` (only its first 16 bytes are
// read, so a key schedule may be passed) and encrypts each 16-byte block of
// `buffer` on its own.
void ecbEncrypt(uint8_t* buffer, uint8_t length, const uint8_t key[16]);

// The current chaining value (16 bytes), for inspection.
const uint8_t* cbcChainingValue();

}  // namespace vdx
