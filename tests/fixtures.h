// Values shared by the telegram and cryptography tests: the example meter
// (manufacturer 12 34, identification number 78 56 34 12, version 01,
// type 03), its test key and the application payload as hex.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/cmac.h"
#include "telegram/meter.h"
#include "tests/hex.h"

namespace testfix {

const char kPayload[] =
    "2F2F466D00000AC924004C13260100004C933A35070000066D1000CAC924000C13260100000C933A3507000004FD971D99914100"
    "0AFD74000001FD1F0001FD1A000C7818170188 2F2F2F2F2F2F2F2F2F";

const uint8_t kKey[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                          0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

inline vdx::MeterRecord exampleMeter() {
    vdx::MeterRecord m{};
    const uint8_t address[8] = {0x12, 0x34, 0x78, 0x56, 0x34, 0x12, 0x01, 0x03};
    std::memcpy(m.manufacturer, address, 8);
    return m;
}

// The program's CMAC of the first len bytes of msg, as hex.
inline std::string cmacHex(const std::vector<uint8_t>& key, const uint8_t* msg, int len) {
    uint8_t tag[16];
    vdx::cmacCompute(key.data(), msg, len, tag);
    return testhex::str(tag, 16);
}

}  // namespace testfix
