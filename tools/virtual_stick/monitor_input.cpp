// What the monitor reads besides the stream of stick frames: the meters'
// keys (from a configuration file, read strictly, or from a rig), and radio
// frames turned back into the stick frames that make a stick send them.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/oracle/openssl_aes.h"
#include "tools/virtual_stick/monitor.h"

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

}  // namespace

// Every meter of every table; a derived key made here with OpenSSL: AES-128
// under the master key of the address and eight zero bytes.
std::vector<MeterKey> rigMeterKeys(const vdx::Rig& rig) {
    std::vector<MeterKey> keys;
    keys.reserve(rig.meterCount());
    for (const vdx::SimMeter& m : rig.meters)
        for (uint32_t i = 0; i < m.count; ++i) {
            MeterKey k{};
            vdx::meterAddress(m, i, k.address);
            std::memcpy(k.key, m.key, 16);
            if (m.deriveKeys) {
                uint8_t block[16] = {0};
                std::memcpy(block, k.address, 8);
                oracle::aesEncrypt(m.key, block, k.key);
            }
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
