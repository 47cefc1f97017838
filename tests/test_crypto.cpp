// AES-128, CBC, CMAC and the key derivation blocks: published known answers.
#include <gtest/gtest.h>

#include <cstring>

#include "crypto/aes128.h"
#include "crypto/cbc.h"
#include "crypto/cmac.h"
#include "crypto/kdf.h"
#include "tests/fixtures.h"
#include "tests/hex.h"

using testhex::bytes;
using testhex::norm;
using testhex::str;
using namespace vdx;
using testfix::cmacHex;

namespace {

const char kRfcKey[] = "2b7e151628aed2a6abf7158809cf4f3c";
const char kRfcMessage[] =
    "6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710";

}  // namespace

TEST(Aes128, Fips197KnownAnswers) {
    // FIPS-197 Appendix C.1: key, plaintext, ciphertext
    auto key = bytes("000102030405060708090a0b0c0d0e0f");
    auto pt = bytes("00112233445566778899aabbccddeeff");
    uint8_t schedule[176], ct[16];
    aesExpandKey(key.data(), schedule);
    aesEncryptBlock(pt.data(), ct, schedule);
    EXPECT_EQ(str(ct, 16), norm("69c4e0d86a7b0430d8cdb78070b4c55a"));
    EXPECT_EQ(str(schedule, 16), str(key)) << "round key 0 is the key";

    // in place: the input is read before the output is written
    aesEncryptBlock(pt.data(), pt.data(), schedule);
    EXPECT_EQ(str(pt), norm("69c4e0d86a7b0430d8cdb78070b4c55a"));

    // FIPS-197 Appendix A.1: key expansion of 2b7e1516...; w[4..7], w[20..23], w[40..43]
    key = bytes(kRfcKey);
    aesExpandKey(key.data(), schedule);
    EXPECT_EQ(str(schedule + 16, 16), norm("a0fafe17 88542cb1 23a33939 2a6c7605"));
    EXPECT_EQ(str(schedule + 80, 16), norm("d4d1c6f8 7c839d87 caf2b8bc 11f915bc"));
    EXPECT_EQ(str(schedule + 160, 16), norm("d014f9a8 c9ee2589 e13f0cc8 b6630ca6"));

    // FIPS-197 section 5.1.3 example column: d4 bf 5d 30 -> 04 66 81 e5
    uint8_t column[4] = {0xd4, 0xbf, 0x5d, 0x30};
    aesMixColumn(column);
    EXPECT_EQ(str(column, 4), "046681E5");
}

TEST(Cmac, Rfc4493Examples) {
    auto key = bytes(kRfcKey);
    auto msg = bytes(kRfcMessage);
    uint8_t k1[16], k2[16];
    cmacSubkeys(key.data(), k1, k2);
    EXPECT_EQ(str(k1, 16), norm("fbeed618357133667c85e08f7236a8de"));
    EXPECT_EQ(str(k2, 16), norm("f7ddac306ae266ccf90bc11ee46d513b"));
    EXPECT_EQ(cmacHex(key, msg.data(), 0), norm("bb1d6929e95937287fa37d129b756746"));
    EXPECT_EQ(cmacHex(key, msg.data(), 16), norm("070a16b46b4d4144f79bdd9dd04a287c"));
    EXPECT_EQ(cmacHex(key, msg.data(), 40), norm("dfa66747de9ae63030ca32611497c827"));
    EXPECT_EQ(cmacHex(key, msg.data(), 64), norm("51f0bebf7e3b9d92fc49741779363cfe"));
}

TEST(Cbc, ChainingValueAcrossCalls) {
    auto key = bytes(kRfcKey);
    uint8_t schedule[176];
    aesExpandKey(key.data(), schedule);
    auto whole = bytes(kRfcMessage);
    auto split = whole;

    // NIST SP 800-38A F.2.1 (CBC-AES128), IV 000102...0f
    auto sp = whole;
    auto iv = bytes("000102030405060708090a0b0c0d0e0f");
    cbcEncrypt(iv.data(), sp.data(), 64, schedule);
    EXPECT_EQ(str(sp), norm("7649abac8119b246cee98e9b12e9197d 5086cb9b507219ee95db113a917678b2"
                            "73bed6b8e3c1743b7116e69e22229516 3ff1caa1681fac09120eca307586e1a7"));
    EXPECT_EQ(str(iv), norm("3ff1caa1681fac09120eca307586e1a7")) << "the last block is the caller's chaining value";

    // one call of 64 bytes == four calls of 16 bytes through the same
    // chaining value; a second chain beside it does not disturb it
    uint8_t chain[16] = {0}, otherChain[16] = {0}, other[16] = {0};
    cbcEncrypt(chain, whole.data(), 64, schedule);
    std::memset(chain, 0, 16);
    for (int b = 0; b < 4; ++b) {
        cbcEncrypt(chain, split.data() + 16 * b, 16, schedule);
        cbcEncrypt(otherChain, other, 16, schedule);
    }
    EXPECT_EQ(str(split), str(whole));

    // from a zero chaining value one block is plain AES
    auto block = bytes(kRfcMessage);
    uint8_t direct[16], zero[16] = {0};
    aesEncryptBlock(block.data(), direct, schedule);
    cbcEncrypt(zero, block.data(), 16, schedule);
    EXPECT_EQ(str(block.data(), 16), str(direct, 16));
}

TEST(Cbc, LengthsOutsideWholeBlocks) {
    auto key = bytes(kRfcKey);
    uint8_t schedule[176];
    aesExpandKey(key.data(), schedule);
    std::vector<uint8_t> buffer(48, 0xA5);
    uint8_t chainingValue[16] = {0};
    cbcEncrypt(chainingValue, buffer.data(), 16, schedule);
    const std::string chain = str(chainingValue, 16);
    const std::string before = str(buffer);

    // length 0: neither the buffer nor the chaining value changes
    cbcEncrypt(chainingValue, buffer.data(), 0, schedule);
    EXPECT_EQ(str(buffer), before);
    EXPECT_EQ(str(chainingValue, 16), chain);

    // 20 bytes: one whole block, the 4 trailing bytes untouched
    std::vector<uint8_t> odd(48, 0x5A);
    std::memset(chainingValue, 0, 16);
    cbcEncrypt(chainingValue, odd.data(), 20, schedule);
    for (int i = 16; i < 48; ++i) EXPECT_EQ(odd[i], 0x5A) << "byte " << i;
    std::vector<uint8_t> ecb(16, 0x5A);
    ecbEncrypt(ecb.data(), 7, key.data());  // no whole block: nothing
    EXPECT_EQ(ecb[0], 0x5A);
}

TEST(KeyDerivation, BlocksAtCounterZeroAnd258) {
    const uint8_t id[4] = {0x78, 0x56, 0x34, 0x12};
    uint8_t block[16];
    buildEncKeyBlock(block, id, 0);
    EXPECT_EQ(str(block, 16), "00000000007856341207070707070707");
    buildMacKeyBlock(block, id, 0);
    EXPECT_EQ(str(block, 16), "01000000007856341207070707070707");
    buildEncKeyBlock(block, id, 258);
    EXPECT_EQ(str(block, 16), "00020100007856341207070707070707");
    buildMacKeyBlock(block, id, 0xFFFFFFFFu);
    EXPECT_EQ(str(block, 16), "01FFFFFFFF7856341207070707070707");
}
