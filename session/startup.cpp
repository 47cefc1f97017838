#include "session/startup.h"

#include <cstdio>
#include <cstring>

namespace vdx {

void tell(const char* program, const std::string& text) {
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        std::fprintf(stderr, "%s: %s\n", program, text.substr(start, end - start).c_str());
    std::fprintf(stderr, "%s: %s\n", program, text.substr(start).c_str());
}

std::string hexText(const uint8_t* data, size_t n) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text(2 * n, '0');
    for (size_t i = 0; i < n; ++i) {
        text[2 * i] = kHex[data[i] >> 4];
        text[2 * i + 1] = kHex[data[i] & 0x0F];
    }
    return text;
}

bool hasOption(int argc, char** argv, const char* option) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], option) == 0) return true;
    return false;
}

}  // namespace vdx
