#include "app/config.h"

#include <cstdio>
#include <cstring>

#include "telegram/meter.h"

namespace vdx {

char configLines[kConfigLineCount][kConfigLineSize];
uint8_t keyTable[kKeyCount][kKeySize];

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

// Reads characters as a Windows C runtime reads a file opened in text mode:
// CR LF arrives as LF, and Ctrl+Z (0x1A) ends the file.
class TextModeReader {
public:
    explicit TextModeReader(FILE* f) : file_(f) {}

    int get() {
        if (ended_) return EOF;
        int c = std::getc(file_);
        if (c == 0x1A) c = EOF;
        if (c == '\r') {
            const int next = std::getc(file_);
            if (next == '\n') return '\n';
            if (next != EOF) std::ungetc(next, file_);
        }
        if (c == EOF) ended_ = true;
        return c;
    }

    // fgets(buffer, size, f): at most size - 1 characters, stopping after the
    // first line feed; false when nothing could be read.
    bool getLine(char* buffer, int size) {
        int n = 0;
        while (n < size - 1) {
            const int c = get();
            if (c == EOF) break;
            buffer[n++] = static_cast<char>(c);
            if (c == '\n') break;
        }
        if (n == 0) return false;
        buffer[n] = '\0';
        return true;
    }

private:
    FILE* file_;
    bool ended_ = false;
};

}  // namespace

int hexToBytes(const char* text, uint8_t* out, size_t outSize) {
    size_t n = std::strlen(text);
    n -= n % 2;  // a trailing lone digit is ignored
    size_t count = n / 2;
    if (count > outSize) count = outSize;
    for (size_t p = 0; p < count; ++p)
        out[p] = static_cast<uint8_t>(hexDigit(text[2 * p]) * 16 + hexDigit(text[2 * p + 1]));
    return static_cast<int>(count);
}

bool readConfigFileFrom(const char* path) {
    std::memset(configLines, 0, sizeof configLines);
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    TextModeReader reader(f);
    for (int line = 0; line < kConfigLineCount; ++line) {
        char* buffer = configLines[line];
        if (!reader.getLine(buffer, kConfigLineSize)) continue;
        // drop the last character: the line feed, or the last real character
        // of a line without one. A line that starts with a NUL byte has
        // nothing to drop.
        const size_t length = std::strlen(buffer);
        if (length > 0) buffer[length - 1] = '\0';
    }
    std::fclose(f);
    return true;
}

void readConfigFile() { readConfigFileFrom("VDXconfig.txt"); }

void loadKeyTable() {
    for (int k = 0; k < kKeyCount; ++k) hexToBytes(configLines[10 + k], keyTable[k], kKeySize);
}

void loadMeterAddress(int meter) { hexToBytes(configLines[meter], meterTable[meter].manufacturer, kAddressSize); }

void resetConfig() {
    std::memset(configLines, 0, sizeof configLines);
    std::memset(keyTable, 0, sizeof keyTable);
}

}  // namespace vdx
