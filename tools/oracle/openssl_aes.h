// AES-128 ECB/CBC/CTR and AES-CMAC through OpenSSL's libcrypto. Used only by the
// tests, the benchmark and the virtual stick's monitor as an independent check
// of the program's own cryptography; the program itself never links it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace oracle {

void aesEncrypt(const uint8_t key[16], const uint8_t in[16], uint8_t out[16]);
void aesDecrypt(const uint8_t key[16], const uint8_t in[16], uint8_t out[16]);
// Whole blocks only; len is a multiple of 16.
void cbcEncrypt(const uint8_t key[16], const uint8_t iv[16], const uint8_t* in, size_t len, uint8_t* out);
void cbcDecrypt(const uint8_t key[16], const uint8_t iv[16], const uint8_t* in, size_t len, uint8_t* out);
// Counter mode from the initial counter block `iv` (OpenSSL's 128-bit
// big-endian increment); any length; encryption and decryption alike.
void ctr(const uint8_t key[16], const uint8_t iv[16], const uint8_t* in, size_t len, uint8_t* out);
void cmac(const uint8_t key[16], const uint8_t* msg, size_t len, uint8_t tag[16]);

}  // namespace oracle
