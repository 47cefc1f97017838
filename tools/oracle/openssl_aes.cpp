#include "tools/oracle/openssl_aes.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <cstdlib>

namespace oracle {
namespace {

void check(int ok) {
    if (ok != 1) std::abort();  // a broken oracle must not pass for a result
}

void cipher(const EVP_CIPHER* type, int enc, const uint8_t key[16], const uint8_t* iv, const uint8_t* in, size_t len,
            uint8_t* out) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    check(ctx != nullptr);
    check(EVP_CipherInit_ex(ctx, type, nullptr, key, iv, enc));
    check(EVP_CIPHER_CTX_set_padding(ctx, 0));
    int outLen = 0, finalLen = 0;
    check(EVP_CipherUpdate(ctx, out, &outLen, in, static_cast<int>(len)));
    check(EVP_CipherFinal_ex(ctx, out + outLen, &finalLen));
    EVP_CIPHER_CTX_free(ctx);
}

}  // namespace

void aesEncrypt(const uint8_t key[16], const uint8_t in[16], uint8_t out[16]) {
    cipher(EVP_aes_128_ecb(), 1, key, nullptr, in, 16, out);
}
void aesDecrypt(const uint8_t key[16], const uint8_t in[16], uint8_t out[16]) {
    cipher(EVP_aes_128_ecb(), 0, key, nullptr, in, 16, out);
}
void cbcEncrypt(const uint8_t key[16], const uint8_t iv[16], const uint8_t* in, size_t len, uint8_t* out) {
    cipher(EVP_aes_128_cbc(), 1, key, iv, in, len, out);
}
void cbcDecrypt(const uint8_t key[16], const uint8_t iv[16], const uint8_t* in, size_t len, uint8_t* out) {
    cipher(EVP_aes_128_cbc(), 0, key, iv, in, len, out);
}

void ctr(const uint8_t key[16], const uint8_t iv[16], const uint8_t* in, size_t len, uint8_t* out) {
    cipher(EVP_aes_128_ctr(), 1, key, iv, in, len, out);
}

void cmac(const uint8_t key[16], const uint8_t* msg, size_t len, uint8_t tag[16]) {
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
    check(mac != nullptr);
    EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
    check(ctx != nullptr);
    char cipherName[] = "AES-128-CBC";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipherName, 0),
                           OSSL_PARAM_construct_end()};
    check(EVP_MAC_init(ctx, key, 16, params));
    check(EVP_MAC_update(ctx, msg, len));
    size_t tagLen = 0;
    check(EVP_MAC_final(ctx, tag, &tagLen, 16));
    check(tagLen == 16);
    EVP_MAC_CTX_free(ctx);
    EVP_MAC_free(mac);
}

}  // namespace oracle
