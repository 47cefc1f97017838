#include "crypto/cmac.h"

#include <cstring>

#include "crypto/aes128.h"
#include "crypto/kdf.h"

namespace vdx {
namespace {

// One-bit left shift of a 128-bit big-endian string; returns the bit shifted out.
bool shiftLeft(const uint8_t in[16], uint8_t out[16]) {
    const bool top = (in[0] & 0x80) != 0;
    for (int i = 0; i < 15; ++i) out[i] = static_cast<uint8_t>((in[i] << 1) | (in[i + 1] >> 7));
    out[15] = static_cast<uint8_t>(in[15] << 1);
    return top;
}

// Doubling in GF(2^128): shift, then Rb = 0x87 into the last byte on carry.
void dbl(const uint8_t in[16], uint8_t out[16]) {
    if (shiftLeft(in, out)) out[15] ^= 0x87;
}

void subkeys(const uint8_t schedule[kAesScheduleSize], uint8_t k1[16], uint8_t k2[16]) {
    uint8_t l[16] = {0};
    aesEncryptBlock(l, l, schedule);  // L = E_K(0^128)
    dbl(l, k1);
    dbl(k1, k2);
    secureWipe(l, sizeof l);
}

}  // namespace

void cmacSubkeys(const uint8_t key[16], uint8_t k1[16], uint8_t k2[16]) {
    uint8_t schedule[kAesScheduleSize];
    aesExpandKey(key, schedule);
    subkeys(schedule, k1, k2);
    secureWipe(schedule, sizeof schedule);
}

void cmacCompute(const uint8_t key[16], const uint8_t* message, int32_t length, uint8_t tag[16]) {
    if (length < 0) length = 0;
    // the key is expanded once for the subkeys and every block
    uint8_t schedule[kAesScheduleSize], k1[16], k2[16];
    aesExpandKey(key, schedule);
    subkeys(schedule, k1, k2);

    const int32_t n = (length + 15) / 16;
    uint8_t last[16] = {0};
    if (n > 0 && length % 16 == 0) {
        // complete last block: XOR K1
        for (int i = 0; i < 16; ++i) last[i] = static_cast<uint8_t>(message[16 * (n - 1) + i] ^ k1[i]);
    } else {
        // partial or empty last block: pad with 0x80 0x00..., XOR K2
        const int32_t r = length % 16;
        if (r > 0) std::memcpy(last, message + 16 * (n - 1), static_cast<size_t>(r));
        last[r] = 0x80;
        for (int i = 0; i < 16; ++i) last[i] ^= k2[i];
    }

    uint8_t x[16] = {0};
    for (int32_t b = 0; b + 1 < n; ++b) {
        for (int i = 0; i < 16; ++i) x[i] ^= message[16 * b + i];
        aesEncryptBlock(x, x, schedule);
    }
    for (int i = 0; i < 16; ++i) x[i] ^= last[i];
    aesEncryptBlock(x, tag, schedule);
    secureWipe(schedule, sizeof schedule);
    secureWipe(k1, sizeof k1);
    secureWipe(k2, sizeof k2);
}

}  // namespace vdx
