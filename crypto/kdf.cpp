#include "crypto/kdf.h"

#include <cstring>

#include "crypto/byte_order.h"

namespace vdx {
namespace {

void buildKeyBlock(uint8_t block[16], uint8_t constant, const uint8_t identNumber[4], uint32_t counter) {
    block[0] = constant;
    putLe32(block + 1, counter);
    std::memcpy(block + 5, identNumber, 4);
    std::memset(block + 9, 0x07, 7);
}

}  // namespace

void buildEncKeyBlock(uint8_t block[16], const uint8_t identNumber[4], uint32_t counter) {
    buildKeyBlock(block, 0x00, identNumber, counter);
}

void buildMacKeyBlock(uint8_t block[16], const uint8_t identNumber[4], uint32_t counter) {
    buildKeyBlock(block, 0x01, identNumber, counter);
}

void secureWipe(void* data, unsigned size) {
    volatile uint8_t* p = static_cast<volatile uint8_t*>(data);
    while (size-- > 0) *p++ = 0;
}

}  // namespace vdx
