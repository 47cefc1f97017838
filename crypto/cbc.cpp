#include "crypto/cbc.h"

#include <cstring>

#include "crypto/aes128.h"

namespace vdx {

void cbcEncrypt(uint8_t chainingValue[16], uint8_t* buffer, uint8_t length, const uint8_t schedule[176]) {
    for (unsigned blocks = length / 16u; blocks > 0; --blocks, buffer += 16) {
        uint8_t temp[16];
        for (int i = 0; i < 16; ++i) buffer[i] ^= chainingValue[i];
        aesEncryptBlock(buffer, temp, schedule);
        std::memcpy(chainingValue, temp, 16);
        std::memcpy(buffer, temp, 16);
    }
}

void ecbEncrypt(uint8_t* buffer, uint8_t length, const uint8_t key[16]) {
    uint8_t schedule[176];
    aesExpandKey(key, schedule);
    for (unsigned blocks = length / 16u; blocks > 0; --blocks, buffer += 16) aesEncryptBlock(buffer, buffer, schedule);
}

}  // namespace vdx
