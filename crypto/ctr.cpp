#include "crypto/ctr.h"

#include "crypto/aes128.h"
#include "crypto/kdf.h"

namespace vdx {

void ctrIncrement(uint8_t counterBlock[16]) {
    for (int i = 15; i >= 0; --i)
        if (++counterBlock[i] != 0) return;  // no carry into the byte before
}

void ctrCrypt(uint8_t counterBlock[16], uint8_t* buffer, size_t length, const uint8_t schedule[176]) {
    uint8_t keystream[16];
    for (size_t done = 0; done < length; done += 16) {
        aesEncryptBlock(counterBlock, keystream, schedule);
        ctrIncrement(counterBlock);
        const size_t n = length - done < 16 ? length - done : 16;
        for (size_t i = 0; i < n; ++i) buffer[done + i] ^= keystream[i];
    }
    secureWipe(keystream, sizeof keystream);
}

}  // namespace vdx
