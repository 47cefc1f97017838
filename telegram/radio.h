// The telegrams as a wireless M-Bus receiver hands them to its decoder:
// L-field, C-field, the link-layer address (M and A fields) from the address
// frame, then the rest of the telegram. The stick builds this frame on the
// air; decoders and SDR pipelines take it as hexadecimal text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vdx {

// EN 13757-4 CRC: polynomial 0x3D65, initial value 0, result complemented.
uint16_t wmbusCrc(const uint8_t* data, size_t n);

// The frame without CRCs, from an address frame (11 bytes) and the telegram
// frame that follows it (command 0x44). L counts every byte after itself.
std::vector<uint8_t> radioFrame(const uint8_t* addressFrame, const uint8_t* telegramFrame);

// The same frame in frame format A (EN 13757-4): a first block of 10 bytes
// (L, C, M, A), then blocks of 16 bytes, the last one shorter, each followed
// by its CRC, high byte first. L stays the count without CRCs.
std::vector<uint8_t> withFormatACrcs(const std::vector<uint8_t>& frame);

// The largest telegram frame (stick frame, envelope included) whose radio
// frame in format B keeps its L-field, which counts the two CRCs too, below
// 256: N + 12 <= 255. (Format A's L counts no CRC: kMaxTelegramFrameSize.)
constexpr size_t kMaxFormatBTelegramFrameSize = 3 + 243;

// The same frame in frame format B (EN 13757-4): the first block (L, C, M,
// A) and up to 115 bytes after it share one CRC at the end of the second
// block; what does not fit forms a third block with its own CRC. L counts
// every byte after itself, the CRCs included.
std::vector<uint8_t> withFormatBCrcs(const std::vector<uint8_t>& frame);

}  // namespace vdx
