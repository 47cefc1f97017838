// A telegram as a stack of layers, each a small struct with named fields,
// encoded in one pass (as libtins and scapy build packets): the link layer
// (EN 13757-4: C, M, A), the extended link layer (CI 0x8C), the
// authentication and fragmentation layer (EN 13757-7: CI 0x90), the
// transport layer (CI 0x78 without header, 0x7A short, 0x72 long) and the
// application layer (EN 13757-3 data records). Security (none, OMS mode 5,
// mode 7) is applied between them. No layer writes into another's bytes;
// lengths, the configuration word's block count and the stick envelope
// follow from what was encoded.
//
//   address frame  01 08 00 | M(2) ID(4) version type          (link layer)
//   telegram frame 44 N(2)  | C | 8C CC ACC                     (ELL)
//                           | 90 AFLL FCL(2) MCL MC(4) MAC(8)   (AFL)
//                           | CI [ID(4) M(2) version type] [ACC ST CF(2) [CFE]]
//                           | block (2F 2F, records, 2F fill)   (application)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vdx {

enum class Security : uint8_t { None, Mode5, Mode7 };
enum class HeaderForm : uint8_t { None, Short, Long };

// The stick frame of a telegram: 3 bytes of envelope and N, where the radio
// frame's L-field (8 + N in frame format A) must stay below 256.
constexpr size_t kMaxTelegramFrameSize = 3 + 247;
// An application block: at most 15 encrypted 16-byte blocks, what a
// configuration word can count (bits 4-7).
constexpr size_t kMaxBlockSize = 240;
constexpr size_t kMaxRecords = 64;

struct LinkLayer {
    uint8_t c = 0x44;  // SND_NR
    uint8_t manufacturer[2] = {}, id[4] = {};
    uint8_t version = 0, type = 0;
};

// Extended link layer, short form: communication control and access number.
struct EllLayer {
    bool present = false;
    uint8_t cc = 0x24;  // synchronous (0x20) and accessibility (0x04)
    uint8_t access = 0;
};

// Authentication and fragmentation layer: fragmentation control 0x2C00
// (message control, counter and MAC present; fragment 0, the last), message
// control 0x25 (counter present, AES-CMAC-128 truncated to 8 bytes), the
// message counter, and the MAC the encoder computes.
struct AflLayer {
    bool present = false;
    uint16_t fcl = 0x2C00;
    uint8_t mcl = 0x25;
    uint32_t counter = 0;
};

struct TransportLayer {
    HeaderForm form = HeaderForm::Long;
    uint8_t ci = 0;  // 0: the form's, 0x78, 0x7A or 0x72
    uint8_t access = 0, status = 0;
    uint8_t cfe = 0x10;  // mode 7's configuration field extension: KDF-A, key 0
    // the long header's identification of the meter (ID, M, version, type)
    uint8_t id[4] = {}, manufacturer[2] = {};
    uint8_t version = 0, type = 0;
};

// The application layer: its data records as encoded, and how the block
// around them is made. The block starts with 2F 2F (the receiver's check
// after decryption) and is filled with 2F to whole 16-byte blocks when
// encrypted, or always with `fillAlways`; a plain block without it is the
// records alone.
struct ApplicationLayer {
    uint8_t records[kMaxBlockSize] = {};
    size_t size = 0;
    uint16_t recordAt[kMaxRecords] = {};  // where each record's DIF lies in `records`
    size_t count = 0;
    bool fillAlways = false;
    // bad-records: this record's DIF becomes a reserved special function
    // (0x3F), and the block ends in a record (DIF 07, VIF 13) that announces
    // eight data bytes where at most seven remain
    int reservedDifRecord = -1;
    bool overlongRecord = false;
};

struct Telegram {
    LinkLayer link;
    EllLayer ell;
    AflLayer afl;
    TransportLayer transport;
    ApplicationLayer application;
    Security security = Security::None;
    uint8_t key[16] = {};
};

// The application block before securing.
struct Block {
    uint8_t bytes[kMaxBlockSize + 16] = {};
    size_t size = 0;
    size_t checkSize = 0;              // 2 when it starts with 2F 2F
    uint16_t difAt[kMaxRecords] = {};  // each record's DIF in `bytes`
    size_t records = 0;
};

// The encoded telegram, and where named fields lie in its stick frame.
struct EncodedTelegram {
    uint8_t addressFrame[11] = {};
    uint8_t frame[kMaxTelegramFrameSize] = {};
    size_t size = 0;     // of `frame`, envelope included
    size_t macAt = 0;    // the AFL's MAC; 0 without an AFL
    size_t blockAt = 0;  // the (secured) application block
};

// The block of `application` for `security`.
void buildBlock(const ApplicationLayer& application, Security security, Block* block);

// The block's size without building it.
size_t blockSize(const ApplicationLayer& application, Security security);

// Encodes the layers of `t` around `block` (secured here); false when the
// telegram would not fit a stick frame (kMaxTelegramFrameSize) or an
// encrypted block exceeds kMaxBlockSize.
bool encodeTelegram(const Telegram& t, const Block& block, EncodedTelegram* out);

// Bytes of the stick frame of the layers of `t` around a block of
// `blockSize` bytes.
size_t telegramFrameSize(const Telegram& t, size_t blockSize);

// The CI-field of a transport layer.
uint8_t transportCi(const TransportLayer& transport);

// The status byte of the transport header (EN 13757-3, OMS): bits 0-1 the
// application's state ("busy" 01, "error" 10, "alarm" 11), bit 2
// "power-low", bit 3 "permanent-error", bit 4 "temporary-error", bits 5-7
// the manufacturer's. The names of the bits set in `status` (the
// manufacturer's as "0x20", ...), and the bits of one name (false for none).
std::string statusNames(uint8_t status);
bool statusBits(const std::string& name, uint8_t* bits);

}  // namespace vdx
