#include "telegram/security.h"

#include <cstring>

#include "crypto/aes128.h"
#include "crypto/cbc.h"
#include "crypto/cmac.h"
#include "crypto/kdf.h"
#include "telegram/layers.h"

namespace vdx {

void mode5Encrypt(const uint8_t key[16], const uint8_t address[8], uint8_t access, uint8_t* block, size_t size) {
    uint8_t schedule[kAesScheduleSize], iv[16];
    aesExpandKey(key, schedule);
    std::memcpy(iv, address, 8);
    std::memset(iv + 8, access, 8);
    cbcEncrypt(iv, block, static_cast<uint8_t>(size), schedule);
    secureWipe(schedule, sizeof schedule);
    secureWipe(iv, sizeof iv);
}

void mode7Mac(const uint8_t* frame, size_t size, size_t mclAt, size_t tplAt, const uint8_t macKey[16], uint8_t mac[8]) {
    uint8_t input[5 + kMaxTelegramFrameSize];
    std::memcpy(input, frame + mclAt, 5);
    std::memcpy(input + 5, frame + tplAt, size - tplAt);
    uint8_t tag[16];
    cmacCompute(macKey, input, static_cast<int32_t>(5 + size - tplAt), tag);
    std::memcpy(mac, tag, 8);  // AES-CMAC-128 truncated to its first 8 bytes
    secureWipe(tag, sizeof tag);
}

void mode7Secure(const uint8_t key[16], const uint8_t id[4], uint32_t counter, uint8_t* frame, size_t size,
                 size_t mclAt, size_t macAt, size_t tplAt, size_t blockAt) {
    uint8_t schedule[kAesScheduleSize], block[16], kenc[16], kmac[16];
    // Kenc and Kmac from K; the schedule's first 16 bytes are K
    aesExpandKey(key, schedule);
    buildEncKeyBlock(block, id, counter);
    cmacCompute(schedule, block, 16, kenc);
    buildMacKeyBlock(block, id, counter);
    cmacCompute(schedule, block, 16, kmac);

    uint8_t iv[16] = {0};  // a zero IV for every telegram
    aesExpandKey(kenc, schedule);
    cbcEncrypt(iv, frame + blockAt, static_cast<uint8_t>(size - blockAt), schedule);
    aesExpandKey(kmac, schedule);
    mode7Mac(frame, size, mclAt, tplAt, schedule, frame + macAt);

    secureWipe(schedule, sizeof schedule);
    secureWipe(block, sizeof block);
    secureWipe(kenc, sizeof kenc);
    secureWipe(kmac, sizeof kmac);
}

}  // namespace vdx
