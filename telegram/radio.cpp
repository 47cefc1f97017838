#include "telegram/radio.h"

#include <algorithm>
#include <cstring>

#include "telegram/frames.h"

namespace vdx {

namespace {

// The CRC register after shifting each byte value through it from zero,
// eight bits at a time (a byte at a time below).
struct CrcTable {
    uint16_t next[256];
    constexpr CrcTable() : next() {
        for (int b = 0; b < 256; ++b) {
            uint16_t crc = static_cast<uint16_t>(b << 8);
            for (int bit = 0; bit < 8; ++bit)
                crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x3D65 : crc << 1);
            next[b] = crc;
        }
    }
};
constexpr CrcTable kCrcTable;

}  // namespace

uint16_t wmbusCrc(const uint8_t* data, size_t n) {
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) crc = static_cast<uint16_t>(crc << 8 ^ kCrcTable.next[(crc >> 8) ^ data[i]]);
    return static_cast<uint16_t>(~crc);
}

//  radio:  L  C  M(2) A(6: ID 4, version, type)  CI ...
//  from:      telegram[3]  address[3..10]          telegram[4..]
std::vector<uint8_t> radioFrame(const uint8_t* addressFrame, const uint8_t* telegramFrame) {
    const unsigned n = stickFrameSize(telegramFrame) - 3;  // C-field and what follows
    std::vector<uint8_t> frame(n + 9);
    frame[0] = static_cast<uint8_t>(n + 8);
    frame[1] = telegramFrame[3];
    std::memcpy(frame.data() + 2, addressFrame + 3, 8);
    std::memcpy(frame.data() + 10, telegramFrame + 4, n - 1);
    return frame;
}

std::vector<uint8_t> withFormatACrcs(const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> out;
    for (size_t start = 0, size = 10; start < frame.size(); start += size, size = 16) {
        const size_t n = frame.size() - start < size ? frame.size() - start : size;
        out.insert(out.end(), frame.begin() + static_cast<long>(start), frame.begin() + static_cast<long>(start + n));
        const uint16_t crc = wmbusCrc(frame.data() + start, n);
        out.push_back(static_cast<uint8_t>(crc >> 8));
        out.push_back(static_cast<uint8_t>(crc & 0xFF));
    }
    return out;
}

std::vector<uint8_t> withFormatBCrcs(const std::vector<uint8_t>& frame) {
    constexpr size_t kFirstTwoBlocks = 10 + 115;  // without the CRC
    const size_t n = frame.size();
    std::vector<uint8_t> out(frame.begin(), frame.begin() + static_cast<long>(std::min(n, kFirstTwoBlocks)));
    const size_t crcs = n > kFirstTwoBlocks ? 2 : 1;
    out[0] = static_cast<uint8_t>(n - 1 + 2 * crcs);  // L with the CRCs
    const auto appendCrc = [&out](size_t from) {
        const uint16_t crc = wmbusCrc(out.data() + from, out.size() - from);
        out.push_back(static_cast<uint8_t>(crc >> 8));
        out.push_back(static_cast<uint8_t>(crc & 0xFF));
    };
    appendCrc(0);
    if (crcs == 2) {
        const size_t third = out.size();
        out.insert(out.end(), frame.begin() + static_cast<long>(kFirstTwoBlocks), frame.end());
        appendCrc(third);
    }
    return out;
}

}  // namespace vdx
