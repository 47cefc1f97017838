#include "config/config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

// Not every C runtime has these; where one is missing its effect is not needed.
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#ifndef O_BINARY
#define O_BINARY 0
#endif

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

namespace {

// Opens `path` for reading only if it is a regular file: a FIFO, a device or
// a directory would block start-up or read as endless or empty data. The
// open does not block, whatever the path names. nullptr with errno set.
FILE* openRegularFile(const char* path) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_BINARY);
    if (fd < 0) return nullptr;
    struct stat st;
    const bool known = fstat(fd, &st) == 0;
    if (!known || !S_ISREG(st.st_mode)) {
        const int error = !known ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        close(fd);
        errno = error;
        return nullptr;
    }
    FILE* f = fdopen(fd, "rb");
    if (f == nullptr) close(fd);
    return f;
}

std::string whereAndWhy(const char* path, int error) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    const std::string where = ec ? std::string(path) : absolute.string();
    const char* why = error == EINVAL ? "not a regular file" : std::strerror(error);
    return "cannot read " + where + ": " + why;
}

}  // namespace

bool readConfigFileFrom(const char* path, std::string* problem) {
    std::memset(configLines, 0, sizeof configLines);
    FILE* f = openRegularFile(path);
    if (f == nullptr) {
        if (problem != nullptr) *problem = whereAndWhy(path, errno);
        return false;
    }
    TextModeReader reader(f);
    for (int line = 0; line < kConfigLineCount; ++line) {
        char* buffer = configLines[line];
        if (!reader.getLine(buffer, kConfigLineSize)) continue;
        // Only the line feed is dropped: a line without one (the last line of
        // a file saved without a final line end, or a piece cut at 255
        // characters) keeps every character, so no key loses its last digit.
        const size_t length = std::strlen(buffer);
        if (length > 0 && buffer[length - 1] == '\n') buffer[length - 1] = '\0';
    }
    std::fclose(f);
    return true;
}

bool readConfigFile(std::string* problem) { return readConfigFileFrom(kConfigFileName, problem); }

void loadKeyTable() {
    for (int k = 0; k < kKeyCount; ++k) hexToBytes(configLines[10 + k], keyTable[k], kKeySize);
}

void resetConfig() {
    std::memset(configLines, 0, sizeof configLines);
    std::memset(keyTable, 0, sizeof keyTable);
}

}  // namespace vdx
