// What the monitor reads besides the stream of stick frames: the meters'
// keys (from a configuration file, read strictly, or from a rig), and radio
// frames turned back into the stick frames that make a stick send them.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include "tools/oracle/openssl_aes.h"
#include "tools/virtual_stick/compact_formats.h"
#include "tools/virtual_stick/monitor.h"
#include "tools/virtual_stick/monitor_text.h"

namespace vstick {

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
            if (en13757Crc(radio.data() + at, n) != crc)
                return *error = format("CRC of the block at %zu FAILED", at), false;
            data.insert(data.end(), radio.begin() + static_cast<long>(at), radio.begin() + static_cast<long>(at + n));
            at += n + 2;
        }
    }
    if (data.size() < 11) return *error = "too short for L, C, M and A", false;
    if (data[0] != data.size() - 1)
        return *error = format("L-field %02X says %u bytes follow, %zu do", data[0], data[0], data.size() - 1), false;
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

namespace vstick {
namespace {

// The radio frame of one line as verdanox-frames prints it; false for a
// line that holds none.
bool radioLine(std::string line, std::vector<uint8_t>* frame) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t hex = line.rfind(";0x"), bar = line.find('|');
    if (hex != std::string::npos) line = line.substr(hex + 3);
    if (line.rfind("telegram=|", 0) == 0 && bar != std::string::npos)
        line = line.substr(bar + 1, line.find('|', bar + 1) - bar - 1);
    if (line.empty() || line.size() % 2 != 0 || line.size() > 2 * 1024) return false;
    frame->resize(line.size() / 2);
    return strictHex(line, frame->data(), frame->size());
}

}  // namespace

bool monitorRadioLines(const std::string& path, bool formatA, TelegramMonitor& monitor,
                       const std::function<void(const std::string&)>& say, std::string* error) {
    std::ifstream file;
    if (path != "-") file.open(path, std::ios::binary);
    std::istream& in = path == "-" ? std::cin : file;
    if (!in) return *error = "cannot read " + path, false;
    unsigned number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        std::vector<uint8_t> frame;
        if (line.empty() || line == "\r") continue;
        say(radioLine(line, &frame) ? monitor.feedRadio(frame, formatA)
                                    : format("line %u: no radio frame in hexadecimal", number));
    }
    say("verdicts: " + monitor.verdicts().summary());
    return true;
}

}  // namespace vstick
