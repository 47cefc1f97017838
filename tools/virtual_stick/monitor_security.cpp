// The monitor's security checks, each with OpenSSL and apart from the
// program's own cryptography: mode 5, mode 7 (with its MAC, counter and the
// keys a wrong counter would come from) and the ELL's AES-CTR with its
// payload CRC.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "session/startup.h"
#include "tools/oracle/openssl_aes.h"
#include "tools/virtual_stick/monitor.h"
#include "tools/virtual_stick/monitor_text.h"

namespace vstick {
namespace {

// Kenc (constant 0) or Kmac (1): AES-CMAC under the meter key of the
// constant, the counter and the ID (low bytes first), then 07 seven times.
void deriveKey(uint8_t constant, const uint8_t* key, uint32_t counter, const uint8_t* id, uint8_t out[16]) {
    uint8_t block[16] = {constant, uint8_t(counter), uint8_t(counter >> 8), uint8_t(counter >> 16),
                         uint8_t(counter >> 24)};
    std::memcpy(block + 5, id, 4);
    std::memset(block + 9, 7, 7);
    oracle::cmac(key, block, 16, out);
}

// Whether the AFL's MAC is the AES-CMAC, under Kmac derived from `key`,
// `counter` and `id`, over the message control and counter and everything
// from the transport layer on; the expected MAC's first 8 bytes in `tag`.
bool macMatches(const std::vector<uint8_t>& f, const TelegramLayers& t, const uint8_t* key, const uint8_t* id,
                uint32_t counter, uint8_t tag[16]) {
    uint8_t kmac[16];
    deriveKey(0x01, key, counter, id, kmac);
    std::vector<uint8_t> input(f.begin() + static_cast<long>(t.mclAt), f.begin() + static_cast<long>(t.mclAt + 5));
    input.insert(input.end(), f.begin() + static_cast<long>(t.tplAt), f.end());
    oracle::cmac(kmac, input.data(), input.size(), tag);
    return std::memcmp(tag, f.data() + t.macAt, 8) == 0;
}

}  // namespace

// Mode 7 (EN 13757-7 security profile B): Kenc and Kmac derived from the
// meter key, the AFL's counter and the meter's ID; the MAC over the AFL's
// message control and counter and everything from the transport layer on;
// the block under Kenc with a zero IV.
std::string TelegramMonitor::describeMode7(const std::vector<uint8_t>& f, const TelegramLayers& t) {
    if (!t.afl) {
        count("not understood");
        return ", mode 7 without an AFL";
    }
    std::string line = format(", mode 7, counter %u", t.counter);
    if (t.ell && t.header != TelegramLayers::None && t.ellAccess != t.access) line += ", ACCESS NUMBERS DIFFER";
    if (!t.ell || t.cc != 0x24 || t.aflLength != 0x0F || t.fcl != 0x2C00 || t.mcl != 0x25 || t.cfe != 0x10)
        line += ", UNEXPECTED HEADER " + vdx::hexText(f.data() + 3, t.blockAt - 3);
    const MeterKey* key = haveAddress_ ? keyFor(meter_) : nullptr;
    if (key == nullptr) {
        count("no key");
        return line + ", no key for this meter in VDXconfig.txt";
    }
    uint8_t kenc[16], tag[16];
    const bool macOk = macMatches(f, t, key->key, meter_ + 2, t.counter, tag);
    line +=
        macOk ? ", MAC ok"
              : ", MAC FAILED (got " + vdx::hexText(f.data() + t.macAt, 8) + ", expected " + vdx::hexText(tag, 8) + ")";
    const std::string mismatch = macOk ? "" : counterMismatch(f, t, key->key);
    if (!mismatch.empty()) return line + mismatch;
    if (!macOk && key->keyLine != 0)
        line += key->keyValid ? format(": was the key of line %d used as written?", key->keyLine)
                              : format(": line %d is not a valid key", key->keyLine);
    deriveKey(0x00, key->key, t.counter, meter_ + 2, kenc);
    const uint8_t zeroIv[16] = {0};
    std::vector<uint8_t> plain(f.begin() + static_cast<long>(t.blockAt), f.end());
    oracle::cbcDecrypt(kenc, zeroIv, f.data() + t.blockAt, 16 * t.blocks, plain.data());
    // a MAC that fails over a block that decrypts: the MAC itself was
    // changed; over one that does not: another key; a MAC that verifies
    // over a block without 2F 2F: the meter encrypted something else
    if (plain.size() < 2 || plain[0] != 0x2F || plain[1] != 0x2F) {
        count(macOk ? "no 2F 2F" : "wrong key");
        return line + (macOk ? ", but no 2F 2F after decryption (the meter's encryption is wrong)"
                             : ", no 2F 2F after decryption (wrong key?)");
    }
    if (!macOk) {
        count("MAC FAILED");
        return line;
    }
    uint32_t last = 0;
    if (haveAddress_ && history_.lastCounter(meter_, &last) && t.counter < last) {
        count("counter went back");
        return line + format(", counter went back from %u to %u", last, t.counter);
    }
    if (haveAddress_) history_.rememberCounter(meter_, t.counter);
    return line + ", " + describeBlock(plain.data(), plain.size(), t.compact, 2);
}

// A MAC that verifies under the keys of a neighbouring counter: the AFL
// carries another counter than the one the keys came from.
std::string TelegramMonitor::counterMismatch(const std::vector<uint8_t>& f, const TelegramLayers& t,
                                             const uint8_t* key) {
    uint8_t tag[16];
    for (const uint32_t c : {t.counter - 1, t.counter + 1})
        if (macMatches(f, t, key, meter_ + 2, c, tag)) {
            count("AFL counter mismatch");
            return format(": it verifies under the keys of counter %u, not the AFL's %u", c, t.counter);
        }
    return "";
}

// Mode 5 (EN 13757-7 security profile A): AES-128-CBC under the meter key
// with the IV M, ID, version, type (the long header's, else the link
// layer's), then the access number eight times.
std::string TelegramMonitor::describeMode5(const std::vector<uint8_t>& f, const TelegramLayers& t) {
    std::string line = ", mode 5";
    const MeterKey* key = haveAddress_ ? keyFor(meter_) : nullptr;
    if (key == nullptr || !key->keyValid) {
        count("no key");
        return line + ", no key for this meter";
    }
    uint8_t iv[16];
    std::memcpy(iv, meter_, 8);
    std::memset(iv + 8, t.access, 8);
    std::vector<uint8_t> plain(f.begin() + static_cast<long>(t.blockAt), f.end());
    oracle::cbcDecrypt(key->key, iv, f.data() + t.blockAt, 16 * t.blocks, plain.data());
    if (plain.size() < 2 || plain[0] != 0x2F || plain[1] != 0x2F) {
        count("wrong key");
        return line + ", no 2F 2F after decryption (wrong key?)";
    }
    return line + ", 2F 2F ok, " + describeBlock(plain.data(), plain.size(), t.compact, 2);
}

// The ELL with its session number (EN 13757-4, CI 8D), whose bits 29-31
// tell the encryption: 0 none, 1 AES-128-CTR under the key of the link
// layer's meter (nothing else can be read before decrypting) from the
// counter block M, A, CC, SN, frame number 0, block counter 0. Then the
// payload's CRC, then the transport layer and what follows, read from the
// plain payload.
std::string TelegramMonitor::describeEll(const std::vector<uint8_t>& f, const TelegramLayers& t) {
    const unsigned sn = t.sessionNumber, encryption = sn >> 29;
    const std::string ell = format(", ELL%s, session %08X (time %u, counter %u)%s", encryption == 1 ? " AES-CTR" : "",
                                   sn, (sn >> 4) & 0x1FFFFFF, sn & 0x0F, encryption == 0 ? ", not encrypted" : "");
    std::string line = meterName(meter_) + format(", access %u", t.ellAccess) + ell;
    const MeterKey* key = haveAddress_ ? keyFor(address_) : nullptr;
    if (encryption > 1) return count("not understood"), line + format(", encryption %u unknown", encryption);
    if (encryption == 1 && (key == nullptr || !key->keyValid)) return count("no key"), line + ", no key for this meter";
    std::vector<uint8_t> plain(f.begin() + static_cast<long>(t.payloadAt), f.end());
    if (encryption == 1) {
        uint8_t counter[16] = {0};
        std::memcpy(counter, address_, 8);
        counter[8] = t.cc;
        std::memcpy(counter + 9, f.data() + t.payloadAt - 4, 4);  // SN as sent; frame number, block counter 0
        oracle::ctr(key->key, counter, f.data() + t.payloadAt, plain.size(), plain.data());
    }
    // the transport layer and what follows, as a telegram frame of their own
    // sized once and filled: GCC 12 at -O3 warns (falsely) on an insert
    // into a four-byte vector
    std::vector<uint8_t> inner(4 + (plain.size() >= 2 ? plain.size() - 2 : 0));
    inner[0] = 0x44, inner[3] = f[3];
    if (plain.size() > 2) std::copy(plain.begin() + 2, plain.end(), inner.begin() + 4);
    inner[1] = static_cast<uint8_t>((inner.size() - 3) & 0xFF),
    inner[2] = static_cast<uint8_t>((inner.size() - 3) >> 8);
    TelegramLayers it;
    std::string why;
    const bool readable = readLayers(inner, &it, &why);
    const unsigned got = plain.size() >= 2 ? plain[0] | plain[1] << 8 : 0;
    const unsigned computed = plain.size() >= 2 ? en13757Crc(plain.data() + 2, plain.size() - 2) : 0;
    if (plain.size() < 2 || got != computed) {
        // a transport layer's CI after decryption: only the CRC is wrong
        static const uint8_t kCis[] = {0x72, 0x73, 0x78, 0x79, 0x7A, 0x7B};
        const bool wrongKey = encryption == 1 && (inner.size() < 5 || std::find(std::begin(kCis), std::end(kCis),
                                                                                inner[4]) == std::end(kCis));
        count(wrongKey ? "wrong key" : "payload CRC FAILED");
        return line + format(", payload CRC FAILED (got %04X, computed %04X)", got, computed) +
               (wrongKey ? ", nothing readable after decryption (wrong key?)" : "");
    }
    line += ", payload CRC ok";
    if (!readable && it.unknownCi) return count("unknown CI"), line + format(", CI %02X unknown, not decoded", it.ci);
    if (!readable || it.mode != 0)
        return count("not understood"),
               line + (encryption == 1 ? ", not understood after decryption" : ", not understood");
    if (it.header == TelegramLayers::Long) {
        std::memcpy(meter_, it.meter + 4, 2), std::memcpy(meter_ + 2, it.meter, 4);
        meter_[6] = it.meter[6], meter_[7] = it.meter[7];
    }
    it.ell = true, it.ellAccess = t.ellAccess;  // the access number without a header
    return describeTelegram(inner, it, ell + ", payload CRC ok");
}

}  // namespace vstick
