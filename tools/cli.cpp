#include "tools/cli.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace vdx {

int usageError(const char* program, const std::string& what, const char* usage) {
    std::fprintf(stderr, "%s: %s\n%s", program, what.c_str(), usage);
    return 2;
}

std::string optionProblem(int code, const char* argument) {
    return code == ':' ? std::string(argument) + " needs a value" : std::string("unknown option ") + argument;
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
