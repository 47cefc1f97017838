#include "tools/cli.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "vdx_version.h"

namespace vdx {

int usageError(const char* program, const std::string& what, const char* usage) {
    std::fprintf(stderr, "%s: %s\n%s", program, what.c_str(), usage);
    return 2;
}

int sharedOption(int code, const char* program, const char* usage, const char* help, const char* argument) {
    switch (code) {
        case 'h':
            std::fputs(usage, stdout);
            std::fputs(help, stdout);
            return -1;
        case 'V':
            std::printf("%s %s\n", program, kVersion);
            return -1;
        case ':':
            return usageError(program, std::string(argument) + " needs a value", usage);
        default:
            return usageError(program, std::string("unknown option ") + argument, usage);
    }
}

int noArgumentsLeft(int next, int argc, char** argv, const char* program, const char* usage) {
    return next < argc ? usageError(program, std::string("unexpected argument ") + argv[next], usage) : 0;
}

bool parseWhole(const char* text, long min, long max, long* out) {
    if (text == nullptr || !((*text >= '0' && *text <= '9') || *text == '-')) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    *out = v;
    return true;
}

bool parseDecimal(const char* text, double min, double max, double* out) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (*end != '\0' || !(v >= min && v <= max)) return false;
    *out = v;
    return true;
}

}  // namespace vdx
