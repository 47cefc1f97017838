// The configuration file "VDXconfig.txt": lines 1-10 hold the ten meters'
// link-layer addresses, lines 11-20 their AES-128 keys, as hexadecimal text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vdx {

constexpr int kConfigLineCount = 20;
constexpr int kConfigLineSize = 256;  // 255 characters and the terminator
constexpr int kKeyCount = 10;
constexpr int kKeySize = 16;

extern char configLines[kConfigLineCount][kConfigLineSize];
extern uint8_t keyTable[kKeyCount][kKeySize];

// Converts hexadecimal digit pairs of `text` to bytes at `out` and returns the
// number written. A trailing lone digit is ignored, a character that is not a
// hexadecimal digit counts as 0, and at most `outSize` bytes are written: the
// rest of the text is ignored. Bytes past the count are left unchanged.
int hexToBytes(const char* text, uint8_t* out, size_t outSize);

constexpr char kConfigFileName[] = "VDXconfig.txt";

// Reads up to 20 lines of "VDXconfig.txt" in the current directory into
// configLines: at most 255 characters a piece, each line without its line
// feed. Only a regular file is read. A file that is missing or cannot be
// read leaves every line empty; the result is then false and `problem`, if
// given, says where the program looked and why it failed, in one line.
bool readConfigFile(std::string* problem = nullptr);

// The same for a file of the caller's choice. Clears configLines first.
bool readConfigFileFrom(const char* path, std::string* problem = nullptr);

// keyTable[k] = hexToBytes(line 11 + k), for k = 0..9.
void loadKeyTable();

// Empties configLines and zeroes keyTable (the state before start-up).
void resetConfig();

}  // namespace vdx
