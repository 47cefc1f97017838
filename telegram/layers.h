// A telegram as a stack of layers, each a small struct with named fields,
// encoded in one pass (as libtins and scapy build packets): the link layer
// (EN 13757-4: C, M, A), the extended link layer (CI 0x8C, or 0x8D with the
// session number and AES-128-CTR), the authentication and fragmentation
// layer (EN 13757-7: CI 0x90), the transport layer (CI 0x78 without header,
// 0x7A short, 0x72 long; 0x79, 0x7B and 0x73 before a compact application
// layer) and the application layer (EN 13757-3 data records, or their data
// alone in a compact frame). Security (none, OMS mode 5, mode 7, the ELL's
// AES-CTR) is applied between them. No layer writes into another's bytes;
// lengths, the configuration word's block count, the ELL's payload CRC and
// the stick envelope follow from what was encoded.
//
//   address frame  01 08 00 | M(2) ID(4) version type          (link layer)
//   telegram frame 44 N(2)  | C | 8C CC ACC                     (ELL)
//                           |   | 8D CC ACC SN(4) | CRC(2) ...  (ELL, encrypting the rest)
//                           | 90 AFLL FCL(2) MCL MC(4) MAC(8)   (AFL)
//                           | CI [ID(4) M(2) version type] [ACC ST CF(2) [CFE]]
//                           | block (2F 2F, records, 2F fill)   (application)
//                           |   compact: 2F 2F, signature(2) CRC(2) data, 2F fill
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vdx {

enum class Security : uint8_t { None, Mode5, Mode7, EllCtr };
enum class HeaderForm : uint8_t { None, Short, Long };

// "plain", "mode 5", "mode 7", "ell-ctr"
const char* securityName(Security s);

// The stick frame of a telegram: 3 bytes of envelope and N, where the radio
// frame's L-field (8 + N in frame format A) must stay below 256.
constexpr size_t kMaxTelegramFrameSize = 3 + 247;
// An application block: at most 15 encrypted 16-byte blocks, what a
// configuration word can count (bits 4-7).
constexpr size_t kMaxBlockSize = 240;
// A record takes two bytes at least (DIF and VIF), so no more than this
// many fit the records of one block.
constexpr size_t kMaxRecords = kMaxBlockSize / 2;

struct LinkLayer {
    uint8_t c = 0x44;  // SND_NR
    uint8_t manufacturer[2] = {}, id[4] = {};
    uint8_t version = 0, type = 0;
};

// Extended link layer (EN 13757-4): communication control and access
// number (CI 0x8C); with `session`, CI 0x8D, which adds the session number
//   bits 29-31 the encryption (1: AES-128-CTR), bits 4-28 a time in
//   minutes, bits 0-3 a session counter
// and encrypts everything after it, starting with a CRC of the plain rest.
struct EllLayer {
    bool present = false;
    uint8_t cc = 0x24;  // synchronous (0x20) and accessibility (0x04)
    uint8_t access = 0;
    bool session = false;
    uint32_t sessionNumber = 0;
};

// The session number of the extended link layer's AES-CTR encryption, from
// its time part (minutes, 25 bits) and session counter (4 bits).
uint32_t ellSessionNumber(uint32_t minutes, uint8_t counter);

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
    uint8_t ci = 0;  // 0: the form's, 0x78, 0x7A or 0x72 (compact: 0x79, 0x7B, 0x73)
    uint8_t access = 0, status = 0;
    uint8_t cfe = 0x10;  // mode 7's configuration field extension: KDF-A, key 0
    // the long header's identification of the meter (ID, M, version, type)
    uint8_t id[4] = {}, manufacturer[2] = {};
    uint8_t version = 0, type = 0;
};

// The application layer: its data records as encoded, and how the block
// around them is made. The block starts with 2F 2F (the receiver's check
// after decryption) and is filled with 2F to whole 16-byte blocks when
// encrypted in the transport layer (modes 5 and 7), or always with
// `fillAlways`; a plain block without it is the records alone. A compact
// layer sends, instead of the records, its format's signature, the full
// frame's CRC and the records' data (telegram/compact.h).
struct ApplicationLayer {
    uint8_t records[kMaxBlockSize] = {};
    size_t size = 0;
    uint16_t recordAt[kMaxRecords] = {};   // where each record's DIF lies in `records`
    uint8_t headerSize[kMaxRecords] = {};  // its DIF, DIFEs, VIF and VIFEs
    size_t count = 0;
    bool fillAlways = false;
    bool checkBytes = true;  // the 2F 2F that starts a filled block (no-2f2f leaves it out)
    bool compact = false;
    uint16_t signature = 0, fullCrc = 0;  // the compact frame's (describeFormat)
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
    uint32_t keyCounter = 0;  // mode 7: the message counter the keys come from, the AFL's unless a fault says not
};

// The application block before securing.
struct Block {
    uint8_t bytes[kMaxBlockSize + 16] = {};
    size_t size = 0;
    size_t checkSize = 0;              // 2 when it starts with 2F 2F
    uint16_t difAt[kMaxRecords] = {};  // each record's DIF in `bytes`
    size_t records = 0;                // DIFs it holds (none in a compact block)
};

// The encoded telegram, and where named fields lie in its stick frame.
struct EncodedTelegram {
    uint8_t addressFrame[11] = {};
    uint8_t frame[kMaxTelegramFrameSize] = {};
    size_t size = 0;          // of `frame`, envelope included
    size_t macAt = 0;         // the AFL's MAC; 0 without an AFL
    size_t payloadCrcAt = 0;  // the ELL's payload CRC (encrypted); 0 without CI 0x8D
    size_t blockAt = 0;       // the (secured) application block
};

// The block of `application` for `security`.
void buildBlock(const ApplicationLayer& application, Security security, Block* block);

// The block's size without building it.
size_t blockSize(const ApplicationLayer& application, Security security);

// Encodes the layers of `t` around `block` (secured here); false when the
// telegram would not fit a stick frame (kMaxTelegramFrameSize) or a block
// encrypted in the transport layer exceeds kMaxBlockSize.
bool encodeTelegram(const Telegram& t, const Block& block, EncodedTelegram* out);

// Bytes of the stick frame of the layers of `t` around a block of
// `blockSize` bytes.
size_t telegramFrameSize(const Telegram& t, size_t blockSize);

// The CI-field of a transport layer, before a compact application layer or
// a full one.
uint8_t transportCi(const TransportLayer& transport, bool compact = false);

// The status byte of the transport header (EN 13757-3, OMS): bits 0-1 the
// application's state ("busy" 01, "error" 10, "alarm" 11), bit 2
// "power-low", bit 3 "permanent-error", bit 4 "temporary-error", bits 5-7
// the manufacturer's. The names of the bits set in `status` (the
// manufacturer's as "0x20", ...), and the bits of one name (false for none).
std::string statusNames(uint8_t status);
bool statusBits(const std::string& name, uint8_t* bits);

}  // namespace vdx
