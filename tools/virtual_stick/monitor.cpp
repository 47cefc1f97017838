#include "tools/virtual_stick/monitor.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "session/startup.h"
#include "telegram/frames.h"
#include "tools/oracle/openssl_aes.h"
#include "tools/virtual_stick/telegram_layers.h"

namespace vstick {
namespace {

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char buf[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return buf;
}

std::string manufacturer(const uint8_t* m) {
    char letters[4];
    vdx::manufacturerLetters(m, letters);
    return letters;
}

// "VDX 12345670 v01 t03" from M, ID, version, type (radio order).
std::string meterName(const uint8_t* a) {
    char id[16];
    std::snprintf(id, sizeof id, "%02X%02X%02X%02X", a[5], a[4], a[3], a[2]);
    return manufacturer(a) + " " + id + format(" v%02X t%02X", a[6], a[7]);
}

void deriveKey(uint8_t constant, const uint8_t* key, uint32_t counter, const uint8_t* id, uint8_t out[16]) {
    const uint8_t block[16] = {constant,
                               uint8_t(counter),
                               uint8_t(counter >> 8),
                               uint8_t(counter >> 16),
                               uint8_t(counter >> 24),
                               id[0],
                               id[1],
                               id[2],
                               id[3],
                               7,
                               7,
                               7,
                               7,
                               7,
                               7,
                               7};
    oracle::cmac(key, block, 16, out);
}

// Whether the AFL's MAC is the AES-CMAC, under Kmac derived from `key`, the
// counter and `id`, over the message control and counter and everything from
// the transport layer on; the expected MAC's first 8 bytes in `tag`.
bool macMatches(const std::vector<uint8_t>& f, const TelegramLayers& t, const uint8_t* key, const uint8_t* id,
                uint8_t tag[16]) {
    uint8_t kmac[16];
    deriveKey(0x01, key, t.counter, id, kmac);
    std::vector<uint8_t> input(f.begin() + static_cast<long>(t.mclAt), f.begin() + static_cast<long>(t.mclAt + 5));
    input.insert(input.end(), f.begin() + static_cast<long>(t.tplAt), f.end());
    oracle::cmac(kmac, input.data(), input.size(), tag);
    return std::memcmp(tag, f.data() + t.macAt, 8) == 0;
}

// The access number a telegram shows: its transport header's, else its ELL's.
unsigned accessOf(const TelegramLayers& t) { return t.header != TelegramLayers::None ? t.access : t.ellAccess; }

}  // namespace

// The keys in address order, so that a rig of a million meters is looked up
// at once; where an address comes twice the first one counts.
TelegramMonitor::TelegramMonitor(std::vector<MeterKey> keys) : keys_(std::move(keys)) {
    std::stable_sort(keys_.begin(), keys_.end(),
                     [](const MeterKey& a, const MeterKey& b) { return std::memcmp(a.address, b.address, 8) < 0; });
}

const MeterKey* TelegramMonitor::keyFor(const uint8_t* address) const {
    const auto k = std::lower_bound(keys_.begin(), keys_.end(), address, [](const MeterKey& a, const uint8_t* b) {
        return std::memcmp(a.address, b, 8) < 0;
    });
    return k != keys_.end() && std::memcmp(k->address, address, 8) == 0 ? &*k : nullptr;
}

std::vector<std::string> TelegramMonitor::feed(const uint8_t* data, size_t n) {
    pending_.insert(pending_.end(), data, data + n);
    std::vector<std::string> lines;
    while (pending_.size() >= 3) {
        const size_t size = 3u + pending_[1] + 256u * pending_[2];
        if (pending_.size() < size) break;
        std::vector<uint8_t> frame(pending_.begin(), pending_.begin() + static_cast<long>(size));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(size));
        raw_.push_back(vdx::hexText(frame.data(), frame.size()));
        std::string line = describe(frame);
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> TelegramMonitor::takeRawFrames() {
    std::vector<std::string> out;
    out.swap(raw_);
    return out;
}

std::string TelegramMonitor::describe(const std::vector<uint8_t>& f) {
    if (f[0] == 0x01 && f.size() == 11) {
        std::memcpy(address_, f.data() + 3, 8);
        haveAddress_ = true;
        return "";
    }
    if (f[0] != 0x44 || f.size() < 5) return format("frame: command %02X, %zu payload bytes", f[0], f.size() - 3);
    ++telegrams_;
    records_.clear();
    TelegramLayers t;
    std::string why;
    if (!readLayers(f, &t, &why)) {
        count("not understood");
        return format("telegram: C %02X CI %02X, %zu bytes, not understood", f[3], f[4], f.size());
    }
    // the same bytes again: decoded as usual, and told (and counted) as a replay
    replay_ = haveAddress_ && history_.isReplay(address_, f);
    const size_t expected = t.blockAt + 16 * t.blocks;
    std::string line;
    if (f.size() < expected) {
        count("truncated");
        line = format("telegram: C %02X CI %02X, truncated: %zu of %zu bytes", f[3], f[4], f.size(), expected);
    } else {
        line = describeTelegram(f, t);
    }
    if (replay_) line += format(", replay of access %u", accessOf(t));
    if (haveAddress_) history_.remember(address_, f);
    if (!haveAddress_) line += ", NO ADDRESS FRAME BEFORE IT";
    haveAddress_ = false;
    return line;
}

std::string TelegramMonitor::describeTelegram(const std::vector<uint8_t>& f, const TelegramLayers& t) {
    // M, ID, version, type: the long header's, else the link layer's
    uint8_t meter[8];
    std::memcpy(meter, address_, 8);
    if (t.header == TelegramLayers::Long) {
        std::memcpy(meter, t.meter + 4, 2);
        std::memcpy(meter + 2, t.meter, 4);
        meter[6] = t.meter[6], meter[7] = t.meter[7];
    }
    std::string line = meterName(meter);
    if (t.header != TelegramLayers::None || t.ell) line += format(", access %u", accessOf(t));
    if (t.header == TelegramLayers::Short) line += ", short header";
    if (t.header == TelegramLayers::None) line += ", no header";
    if (t.status != 0) line += format(", status %02X (%s)", t.status, statusText(t.status).c_str());
    if (t.mode == 5) return line + describeMode5(f, t, meter);
    if (t.mode == 7) return line + describeMode7(f, t, meter);
    line += ", plain";
    if (t.cf != 0) line += format(", configuration %04X", t.cf);
    return line + ", " + describeBlock(f.data() + t.blockAt, f.size() - t.blockAt);
}

void TelegramMonitor::count(const std::string& verdict) { verdicts_.count(replay_ ? "replay" : verdict); }

std::string TelegramMonitor::describeBlock(const uint8_t* block, size_t n) {
    size_t bad = 0;
    if (!decodeRecords(block, n, &records_, &bad)) {
        count("malformed records");
        return format("malformed records at offset %zu", bad);
    }
    count("ok");
    std::string text;
    for (const DecodedRecord& r : records_) text += (text.empty() ? "" : ", ") + describeRecord(r);
    return text.empty() ? "no records" : text;
}

// Mode 7 (EN 13757-7 security profile B): Kenc and Kmac derived from the
// meter key, the AFL's counter and the meter's ID; the MAC over the AFL's
// message control and counter and everything from the transport layer on;
// the block under Kenc with a zero IV.
std::string TelegramMonitor::describeMode7(const std::vector<uint8_t>& f, const TelegramLayers& t,
                                           const uint8_t* meter) {
    if (!t.afl) {
        count("not understood");
        return ", mode 7 without an AFL";
    }
    std::string line = format(", mode 7, counter %u", t.counter);
    if (t.ell && t.header != TelegramLayers::None && t.ellAccess != t.access) line += ", ACCESS NUMBERS DIFFER";
    if (!t.ell || t.cc != 0x24 || t.aflLength != 0x0F || t.fcl != 0x2C00 || t.mcl != 0x25 || t.cfe != 0x10)
        line += ", UNEXPECTED HEADER " + vdx::hexText(f.data() + 3, t.blockAt - 3);
    const MeterKey* key = haveAddress_ ? keyFor(address_) : nullptr;
    if (key == nullptr) {
        count("no key");
        return line + ", no key for this meter in VDXconfig.txt";
    }
    uint8_t kenc[16], tag[16];
    const bool macOk = macMatches(f, t, key->key, meter + 2, tag);
    line +=
        macOk ? ", MAC ok"
              : ", MAC FAILED (got " + vdx::hexText(f.data() + t.macAt, 8) + ", expected " + vdx::hexText(tag, 8) + ")";
    if (!macOk && key->keyLine != 0)
        line += key->keyValid ? format(": was the key of line %d used as written?", key->keyLine)
                              : format(": line %d is not a valid key", key->keyLine);
    deriveKey(0x00, key->key, t.counter, meter + 2, kenc);
    const uint8_t zeroIv[16] = {0};
    std::vector<uint8_t> plain(f.begin() + static_cast<long>(t.blockAt), f.end());
    oracle::cbcDecrypt(kenc, zeroIv, f.data() + t.blockAt, 16 * t.blocks, plain.data());
    // a MAC that fails over a block that decrypts: the MAC itself was
    // changed; over one that does not: another key
    if (plain.size() < 2 || plain[0] != 0x2F || plain[1] != 0x2F) {
        count(macOk ? "no 2F 2F" : "wrong key");
        return line + ", no 2F 2F after decryption (wrong key?)";
    }
    if (!macOk) {
        count("MAC FAILED");
        return line;
    }
    uint32_t last = 0;
    if (haveAddress_ && history_.lastCounter(address_, &last) && t.counter < last) {
        count("counter went back");
        return line + format(", counter went back from %u to %u", last, t.counter);
    }
    if (haveAddress_) history_.rememberCounter(address_, t.counter);
    return line + ", " + describeBlock(plain.data(), plain.size());
}

// Mode 5 (EN 13757-7 security profile A): AES-128-CBC under the meter key
// with the IV M, ID, version, type (the long header's, else the link
// layer's), then the access number eight times.
std::string TelegramMonitor::describeMode5(const std::vector<uint8_t>& f, const TelegramLayers& t,
                                           const uint8_t* meter) {
    std::string line = ", mode 5";
    const MeterKey* key = haveAddress_ ? keyFor(address_) : nullptr;
    if (key == nullptr || !key->keyValid) {
        count("no key");
        return line + ", no key for this meter";
    }
    uint8_t iv[16];
    std::memcpy(iv, meter, 8);
    std::memset(iv + 8, t.access, 8);
    std::vector<uint8_t> plain(f.begin() + static_cast<long>(t.blockAt), f.end());
    oracle::cbcDecrypt(key->key, iv, f.data() + t.blockAt, 16 * t.blocks, plain.data());
    if (plain.size() < 2 || plain[0] != 0x2F || plain[1] != 0x2F) {
        count("wrong key");
        return line + ", no 2F 2F after decryption (wrong key?)";
    }
    return line + ", 2F 2F ok, " + describeBlock(plain.data(), plain.size());
}

}  // namespace vstick
