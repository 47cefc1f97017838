#include "crypto/cbc.h"

#include <cstring>

#include "crypto/aes128.h"

namespace vdx {
namespace {

// The process-wide CBC chaining value; zero at program start.
uint8_t chainingValue[16];

}  // namespace

void cbcReset() { std::memset(chainingValue, 0, sizeof chainingValue); }

void cbcStart(const uint8_t iv[16]) { std::memcpy(chainingValue, iv, sizeof chainingValue); }

const uint8_t* cbcChainingValue() { return chainingValue; }

void cbcEncrypt(uint8_t* buffer, uint8_t length, const uint8_t schedule[176]) {
    for (unsigned blocks = length / 16u; blocks > 0; --blocks, buffer += 16) {
        uint8_t temp[16];
        for (int i = 0; i < 16; ++i) buffer[i] ^= chainingValue[i];
        aesEncryptBlock(buffer, temp, schedule);
        std::memcpy(chainingValue, temp, 16);
        std::memcpy(buffer, temp, 16);
    }
}

void ecbEncrypt(uint8_t* buffer, uint8_t length, const uint8_t key[16]) {
    cbcReset();
    uint8_t schedule[176];
    aesExpandKey(key, schedule);
    for (unsigned blocks = length / 16u; blocks > 0; --blocks, buffer += 16) aesEncryptBlock(buffer, buffer, schedule);
}

}  // namespace vdx
