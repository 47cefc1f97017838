// Stick frames: command byte, payload length N (16-bit, low byte first), N
// payload bytes. The telegram frames carry no L-field, no link-layer address
// and no CRC: the stick adds them, using the address frame sent just before.
// The window's telegrams, built from the layers of telegram/layers.h: the
// long transport header, and in mode 7 the ELL and the AFL.
#pragma once

#include <cstdint>

#include "telegram/layers.h"
#include "telegram/meter.h"

namespace vdx {

constexpr int kAddressFrameSize = 11;
constexpr int kPlainTelegramSize = 97;
constexpr int kEncryptedTelegramSize = 118;
constexpr int kPayloadSize = 80;

// The fixed block of EN 13757-3 data records every telegram carries.
extern const uint8_t applicationPayload[kPayloadSize];

// The layers of a meter record's next telegram: its address in the link
// layer (and in a long header), its access number, and in mode 7 the ELL and
// the AFL with its message counter. The application layer is left empty.
Telegram layersOf(const MeterRecord& meter, Security security, HeaderForm form = HeaderForm::Long);

// Command 0x01 with the meter's eight address bytes. Changes nothing.
void buildAddressFrame(const MeterRecord& meter, uint8_t frame[kAddressFrameSize]);

// Plain SND_NR telegram (CI 0x72, no encryption); then accessNumber += 1.
void buildPlainTelegram(MeterRecord& meter, uint8_t frame[kPlainTelegramSize]);

// OMS security mode 5 telegram (security profile A, EN 13757-7): the plain
// telegram's layout with configuration word 0x0550 (mode 5, five encrypted
// blocks) and `payload` AES-128-CBC-encrypted under the meter key itself;
// then accessNumber += 1. `payload` starts with 2F 2F, the receiver's check.
void buildMode5Telegram(MeterRecord& meter, const uint8_t meterKey[16], const uint8_t payload[kPayloadSize],
                        uint8_t frame[kPlainTelegramSize]);

// The mode 5 initialisation vector: M (2), ID (4), version, device type, then
// the access number eight times.
void mode5Iv(const MeterRecord& meter, uint8_t iv[16]);

// OMS security mode 7 telegram (ELL, AFL with message counter and 8-byte
// AES-CMAC, payload AES-128-CBC under derived keys); then messageCounter += 1
// and accessNumber += 1. The per-telegram key material is wiped before return.
void buildEncryptedTelegram(MeterRecord& meter, const uint8_t meterKey[16], uint8_t frame[kEncryptedTelegramSize]);
// The same with another 80-byte application block than the fixed one.
void buildEncryptedTelegram(MeterRecord& meter, const uint8_t meterKey[16], const uint8_t payload[kPayloadSize],
                            uint8_t frame[kEncryptedTelegramSize]);

// The 8-byte MAC of a mode-7 telegram frame with a long header under Kmac
// (a key schedule may be passed): AES-CMAC over the AFL's message control
// and counter (offsets 11-15) and the transport layer with the block (24 to
// 117), truncated to 8 bytes.
void computeTelegramMac(const uint8_t frame[kEncryptedTelegramSize], const uint8_t macKey[16], uint8_t mac[8]);

// The manufacturer's three letters from its M-field (EN 13757-3 / FLAG
// association), "VDX" for 98 58; terminated in `out`.
void manufacturerLetters(const uint8_t m[2], char out[4]);

// Byte count N + 3 of a complete stick frame.
inline unsigned stickFrameSize(const uint8_t* frame) { return 3u + frame[1] + 256u * frame[2]; }

}  // namespace vdx
