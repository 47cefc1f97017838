// OMS security applied between the transport and the application layer:
// mode 5 (EN 13757-7 security profile A: AES-128-CBC under the meter key)
// and mode 7 (profile B: keys derived per telegram with KDF-A, AES-128-CBC
// with a zero IV, and an AES-CMAC over the AFL and what follows it,
// truncated to 8 bytes). Key material lives only for one call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vdx {

// Mode 5: encrypts `size` bytes of `block` in place under `key` with the IV
// M (2), ID (4), version, type (`address`, radio order), then `access`
// eight times.
void mode5Encrypt(const uint8_t key[16], const uint8_t address[8], uint8_t access, uint8_t* block, size_t size);

// Mode 7 over a whole stick frame of `size` bytes: derives Kenc and Kmac
// from `key`, `counter` and `id`, encrypts the block at `blockAt` to the
// end, and writes the 8-byte MAC at `macAt`: AES-CMAC under Kmac over the
// 5 bytes at `mclAt` (message control and counter), then everything from
// `tplAt` (the transport layer's CI) to the end.
void mode7Secure(const uint8_t key[16], const uint8_t id[4], uint32_t counter, uint8_t* frame, size_t size,
                 size_t mclAt, size_t macAt, size_t tplAt, size_t blockAt);

// The mode-7 MAC of a frame of `size` bytes as above, under Kmac (a key
// schedule may be passed).
void mode7Mac(const uint8_t* frame, size_t size, size_t mclAt, size_t tplAt, const uint8_t macKey[16], uint8_t mac[8]);

}  // namespace vdx
