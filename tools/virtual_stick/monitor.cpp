#include "tools/virtual_stick/monitor.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "session/startup.h"
#include "telegram/frames.h"
#include "tools/oracle/openssl_aes.h"

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

// BCD, low byte first, as its decimal digits.
std::string bcd(const uint8_t* b, size_t n) {
    std::string s;
    for (size_t i = n; i-- > 0;) s += format("%02X", b[i]);
    return s;
}

// "VDX 12345670 v01 t03" from M (2), ID (4), version, device type.
std::string meterName(const uint8_t* man, const uint8_t* id, uint8_t version, uint8_t type) {
    return manufacturer(man) + " " + bcd(id, 4) + format(" v%02X t%02X", version, type);
}

// Date and time type I (6 bytes).
std::string dateTimeI(const uint8_t* b) {
    const int year = 2000 + (((b[4] & 0xF0) >> 1) | ((b[3] & 0xE0) >> 5));
    return format("%04d-%02d-%02d %02d:%02d:%02d", year, b[4] & 0x0F, b[3] & 0x1F, b[2] & 0x1F, b[1] & 0x3F,
                  b[0] & 0x3F);
}

// Data field sizes by the DIF's low nibble.
int dataSize(uint8_t dif) {
    static const int kSizes[16] = {0, 1, 2, 3, 4, 4, 6, 8, 0, 1, 2, 3, 4, -1, 6, -1};
    return kSizes[dif & 0x0F];
}

void deriveKey(uint8_t constant, const uint8_t* key, const uint8_t* counter, const uint8_t* id, uint8_t out[16]) {
    uint8_t block[16] = {constant, counter[0], counter[1], counter[2], counter[3], id[0], id[1], id[2],
                         id[3],    7,          7,          7,          7,          7,     7,     7};
    oracle::cmac(key, block, 16, out);
}

}  // namespace

std::string describePayload(const uint8_t* p, size_t n) {
    std::string out;
    size_t i = 0;
    while (i < n) {
        const uint8_t dif = p[i++];
        if (dif == 0x2F) continue;  // fill byte
        unsigned storage = (dif >> 6) & 1;
        for (uint8_t e = dif; (e & 0x80) && i < n;) {  // DIFEs carry further storage bits
            e = p[i++];
            storage |= (e & 0x0Fu) << 1;
        }
        if (i >= n) break;
        uint8_t vif = p[i++];
        const bool extended = vif == 0xFD || vif == 0xFB;
        if (extended && i < n) vif = p[i++];
        uint8_t vife = 0;
        for (uint8_t e = vif; (e & 0x80) && i < n;) {
            e = p[i++];
            vife = e;
        }
        const int size = dataSize(dif);
        if (size < 0 || i + static_cast<size_t>(size) > n) break;
        const uint8_t* v = p + i;
        i += static_cast<size_t>(size);
        if (storage != 0 || extended) continue;
        const uint8_t unit = vif & 0x7F;
        if (unit == 0x6D && size == 6) {
            out += ", " + dateTimeI(v);
        } else if (unit >= 0x10 && unit <= 0x17 && (dif & 0x0F) >= 0x09 && (dif & 0x0F) <= 0x0C) {
            const std::string digits = bcd(v, static_cast<size_t>(size));
            int exponent = (unit & 7) - 6;  // 10^(n-6) m3
            const double value = std::strtod(digits.c_str(), nullptr) * (exponent == -3 ? 0.001 : 1.0);
            out += format(", V %.3f m3", value);
            if (vife != 0) out += format(" (VIFE %02X)", vife);
        } else if (unit == 0x78) {
            out += ", fabrication number " + bcd(v, static_cast<size_t>(size));
        }
    }
    return out.empty() ? out : out.substr(2);
}

const MeterKey* TelegramMonitor::keyFor(const uint8_t* address) const {
    for (const MeterKey& k : keys_)
        if (std::memcmp(k.address, address, 8) == 0) return &k;
    return nullptr;
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
    const bool mode7 = f[4] == 0x8C, longHeader = f[4] == 0x72;
    const size_t expected = mode7 ? 118 : 97;
    std::string line;
    // the same bytes again: decoded as usual, and told (and counted) as a replay
    replay_ = haveAddress_ && (mode7 || longHeader) && f.size() == expected && history_.isReplay(address_, f);
    if ((mode7 || longHeader) && f.size() < expected) {
        count("truncated");
        line = format("telegram: C %02X CI %02X, truncated: %zu of %zu bytes", f[3], f[4], f.size(), expected);
    } else if (f.size() == 97 && longHeader && f[15] == 0x50 && f[16] == 0x05) {
        line = describeMode5(f);
    } else if (f.size() == 97 && longHeader) {
        line = meterName(f.data() + 9, f.data() + 5, f[11], f[12]) + format(", access %u, plain", f[13]);
        if (f[15] != 0 || f[16] != 0) line += format(", configuration %02X%02X", f[16], f[15]);
        line += ", " + describeBlock(f.data() + 17);
    } else if (f.size() == 118 && mode7) {
        line = describeEncrypted(f);
    } else {
        count("not understood");
        return format("telegram: C %02X CI %02X, %zu bytes, not understood", f[3], f[4], f.size());
    }
    if (replay_) line += format(", replay of access %u", mode7 ? f[33] : f[13]);
    if (haveAddress_) history_.remember(address_, f);
    if (!haveAddress_) line += ", NO ADDRESS FRAME BEFORE IT";
    haveAddress_ = false;
    return line;
}

void TelegramMonitor::count(const std::string& verdict) { verdicts_.count(replay_ ? "replay" : verdict); }

std::string TelegramMonitor::describeBlock(const uint8_t* block) {
    const int bad = malformedRecordOffset(block, 80);
    if (bad >= 0) {
        count("malformed records");
        return format("malformed records at offset %d", bad);
    }
    count("ok");
    return describePayload(block, 80);
}

std::string TelegramMonitor::describeEncrypted(const std::vector<uint8_t>& f) {
    const uint8_t* id = f.data() + 25;
    std::string line = meterName(f.data() + 29, id, f[31], f[32]) + format(", access %u, mode 7", f[33]);
    const uint32_t counter = f[12] | (f[13] << 8) | (f[14] << 16) | (uint32_t(f[15]) << 24);
    line += format(", counter %u", counter);
    if (f[6] != f[33]) line += ", ACCESS NUMBERS DIFFER";
    if (f[5] != 0x24 || f[7] != 0x90 || f[8] != 0x0F || f[9] != 0x00 || f[10] != 0x2C || f[11] != 0x25 ||
        f[24] != 0x72 || f[35] != 0x50 || f[36] != 0x07 || f[37] != 0x10)
        line += ", UNEXPECTED HEADER " + vdx::hexText(f.data() + 3, 35);
    const MeterKey* meter = haveAddress_ ? keyFor(address_) : nullptr;
    if (meter == nullptr) {
        count("no key");
        return line + ", no key for this meter in VDXconfig.txt";
    }

    uint8_t kenc[16], kmac[16], tag[16], macInput[99], plain[80];
    const uint8_t zeroIv[16] = {0};
    deriveKey(0x01, meter->key, f.data() + 12, id, kmac);
    std::memcpy(macInput, f.data() + 11, 5);
    std::memcpy(macInput + 5, f.data() + 24, 94);
    oracle::cmac(kmac, macInput, 99, tag);
    const bool macOk = std::memcmp(tag, f.data() + 16, 8) == 0;
    line += macOk ? ", MAC ok"
                  : ", MAC FAILED (got " + vdx::hexText(f.data() + 16, 8) + ", expected " + vdx::hexText(tag, 8) + ")";
    if (!macOk && meter->keyLine != 0)
        line += meter->keyValid ? format(": was the key of line %d used as written?", meter->keyLine)
                                : format(": line %d is not a valid key", meter->keyLine);
    deriveKey(0x00, meter->key, f.data() + 12, id, kenc);
    oracle::cbcDecrypt(kenc, zeroIv, f.data() + 38, 80, plain);
    // a MAC that fails over a block that decrypts: the MAC itself was
    // changed; over one that does not: another key
    if (plain[0] != 0x2F || plain[1] != 0x2F) {
        count(macOk ? "no 2F 2F" : "wrong key");
        return line + ", no 2F 2F after decryption (wrong key?)";
    }
    if (!macOk) {
        count("MAC FAILED");
        return line;
    }
    uint32_t last = 0;
    if (haveAddress_ && history_.lastCounter(address_, &last) && counter < last) {
        count("counter went back");
        line += format(", counter went back from %u to %u", last, counter);
        return line;
    }
    if (haveAddress_) history_.rememberCounter(address_, counter);
    return line + ", " + describeBlock(plain);
}

// Mode 5 (EN 13757-7 security profile A): AES-128-CBC under the meter key
// with the IV taken from the telegram's own header bytes: M, ID, version,
// type, then the access number eight times.
std::string TelegramMonitor::describeMode5(const std::vector<uint8_t>& f) {
    std::string line = meterName(f.data() + 9, f.data() + 5, f[11], f[12]) + format(", access %u, mode 5", f[13]);
    const MeterKey* meter = haveAddress_ ? keyFor(address_) : nullptr;
    if (meter == nullptr || !meter->keyValid) {
        count("no key");
        return line + ", no key for this meter";
    }
    uint8_t iv[16], plain[80];
    std::memcpy(iv, f.data() + 9, 2);
    std::memcpy(iv + 2, f.data() + 5, 4);
    iv[6] = f[11];
    iv[7] = f[12];
    std::memset(iv + 8, f[13], 8);
    oracle::cbcDecrypt(meter->key, iv, f.data() + 17, 80, plain);
    if (plain[0] != 0x2F || plain[1] != 0x2F) {
        count("wrong key");
        return line + ", no 2F 2F after decryption (wrong key?)";
    }
    return line + ", 2F 2F ok, " + describeBlock(plain);
}

std::vector<MeterKey> rigMeterKeys(const vdx::Rig& rig) {
    std::vector<MeterKey> keys;
    for (const vdx::SimMeter& m : rig.meters) {
        MeterKey k{};
        std::memcpy(k.address, m.record.manufacturer, 8);
        std::memcpy(k.key, m.key, 16);
        k.keyValid = m.security != vdx::Security::None;
        keys.push_back(k);
    }
    return keys;
}

namespace {

// EN 13757-4 CRC, bit by bit: polynomial x^16 + x^13 + x^12 + x^11 + x^10 +
// x^8 + x^6 + x^5 + x^2 + 1, register starting at zero, complemented.
uint16_t en13757Crc(const uint8_t* data, size_t n) {
    unsigned reg = 0;
    for (size_t i = 0; i < n; ++i)
        for (int bit = 7; bit >= 0; --bit) {
            const bool feedback = (((data[i] >> bit) & 1) != 0) != ((reg & 0x8000) != 0);
            reg = ((reg << 1) & 0xFFFF) ^ (feedback ? 0x3D65 : 0);
        }
    return static_cast<uint16_t>(reg ^ 0xFFFF);
}

// Exactly `bytes` bytes as 2 * `bytes` hexadecimal digits, nothing else.
bool strictHex(const std::string& text, uint8_t* out, size_t bytes) {
    if (text.size() != 2 * bytes) return false;
    for (size_t i = 0; i < bytes; ++i) {
        char* end = nullptr;
        const std::string pair = text.substr(2 * i, 2);
        if (!std::isxdigit(static_cast<unsigned char>(pair[0])) || !std::isxdigit(static_cast<unsigned char>(pair[1])))
            return false;
        out[i] = static_cast<uint8_t>(std::strtoul(pair.c_str(), &end, 16));
    }
    return true;
}

}  // namespace

bool loadMeterKeys(const char* path, std::vector<MeterKey>* result, std::vector<std::string>* problems) {
    // a regular file only, and no more of it than a configuration holds:
    // a directory, a FIFO or /dev/zero neither blocks nor fills memory
    struct stat st;
    int why = stat(path, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : S_ISREG(st.st_mode) ? 0 : EINVAL;
    std::FILE* f = why == 0 ? std::fopen(path, "rb") : nullptr;
    if (why == 0 && f == nullptr) why = errno;
    std::string text(kMostConfigBytes, '\0');
    text.resize(f != nullptr ? std::fread(&text[0], 1, text.size(), f) : 0);
    if (f != nullptr && std::ferror(f)) why = EIO;
    if (f != nullptr) std::fclose(f);
    if (why != 0) {
        problems->push_back(std::string("cannot read ") + path + ": " +
                            (why == EINVAL ? "not a regular file" : std::strerror(why)));
        return false;
    }
    std::vector<MeterKey>& keys = *result;
    keys.clear();
    std::vector<std::string> lines;
    for (size_t at = 0; lines.size() < 20 && at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    lines.resize(20);
    for (int m = 0; m < 10; ++m) {
        MeterKey k{};
        k.keyLine = 11 + m;
        if (!strictHex(lines[m], k.address, 8)) {
            problems->push_back(
                format("%s line %d: not 16 hexadecimal digits: meter %d is not checked", path, m + 1, m));
            continue;
        }
        k.keyValid = strictHex(lines[10 + m], k.key, 16);
        if (!k.keyValid)
            problems->push_back(
                format("%s line %d: not 32 hexadecimal digits: meter %d's MAC will fail", path, k.keyLine, m));
        keys.push_back(k);
    }
    return true;
}

bool radioToStickFrames(const std::vector<uint8_t>& radio, bool formatA, std::vector<uint8_t>* stream,
                        std::string* error) {
    std::vector<uint8_t> data;
    if (!formatA) {
        data = radio;
    } else {
        for (size_t at = 0, block = 10; at < radio.size(); block = 16) {
            const size_t n = std::min(block, radio.size() - at < 2 ? 0 : radio.size() - at - 2);
            if (n == 0) return *error = "a block without data or CRC", false;
            const unsigned crc = radio[at + n] << 8 | radio[at + n + 1];
            if (en13757Crc(radio.data() + at, n) != crc) return *error = format("CRC of the block at %zu", at), false;
            data.insert(data.end(), radio.begin() + static_cast<long>(at), radio.begin() + static_cast<long>(at + n));
            at += n + 2;
        }
    }
    if (data.size() < 11 || data[0] != data.size() - 1) return *error = "L does not match the length", false;
    const size_t n = data.size() - 10 + 1;  // C-field, CI and what follows
    const uint8_t head[] = {0x01, 0x08, 0x00};
    stream->insert(stream->end(), head, head + 3);
    stream->insert(stream->end(), data.begin() + 2, data.begin() + 10);
    const uint8_t telegram[] = {0x44, static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8), data[1]};
    stream->insert(stream->end(), telegram, telegram + 4);
    stream->insert(stream->end(), data.begin() + 10, data.end());
    return true;
}

}  // namespace vstick
