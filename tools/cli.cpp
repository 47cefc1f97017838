#include "tools/cli.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "session/startup.h"
#include "vdx_version.h"

namespace vdx {

int usageError(const char* program, const std::string& what, const char* usage) {
    std::fprintf(stderr, "%s: %s\n%s", program, what.c_str(), usage);
    return 2;
}

int sharedOption(int code, const char* program, const char* usage, const char* help, int option, const char* argument,
                 const char* shortOptions) {
    const std::string typed = argument, name = typed.substr(0, typed.find('='));
    const bool longOption = typed.compare(0, 2, "--") == 0;
    const std::string letter = {'-', static_cast<char>(option)};
    switch (code) {
        case 'h':  // done, unless the text could not be written
            putText(std::string(usage) + help);
            return finishOutput(program) ? -1 : 1;
        case 'V':
            putLine(std::string(program) + " " + kVersion);
            return finishOutput(program) ? -1 : 1;
        case ':':  // a short option's value is missing only at the end of its group
            return usageError(program, (longOption ? name : letter) + " needs a value", usage);
        default:
            if (option == 0) return usageError(program, "unknown option " + typed, usage);
            // getopt names a long option given a value it does not take by
            // its short letter, which the tool knows
            if (longOption && std::strchr(shortOptions, option) != nullptr)
                return usageError(program, name + " takes no value", usage);
            return usageError(program, "unknown option " + letter, usage);
    }
}

namespace {
int outputError = 0;  // errno of the first failed write of standard output
}

bool putText(const std::string& text) {
    if (outputError != 0) return false;
    errno = 0;
    if (std::fputs(text.c_str(), stdout) == EOF || std::ferror(stdout)) outputError = errno != 0 ? errno : EIO;
    return outputError == 0;
}

bool putLine(const std::string& line) { return putText(line + "\n"); }

bool finishOutput(const char* program) {
    errno = 0;
    if (outputError == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout))) outputError = errno != 0 ? errno : EIO;
    if (outputError != 0) tell(program, std::string("cannot write standard output: ") + std::strerror(outputError));
    return outputError == 0;
}

bool isStandardOutput(const std::string& path) {
#ifdef _WIN32
    (void)path;  // no inode numbers to compare
    return false;
#else
    struct stat file {
    }, out{};
    return stat(path.c_str(), &file) == 0 && fstat(fileno(stdout), &out) == 0 && file.st_dev == out.st_dev &&
           file.st_ino == out.st_ino;
#endif
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

namespace {

// Plain decimal notation only: an optional sign, digits with at most one
// point, an optional exponent; no spaces, no hexadecimal, inf or nan, which
// strtod would also take.
bool decimalText(const char* p) {
    const auto digits = [&p] {
        const char* from = p;
        while (*p >= '0' && *p <= '9') ++p;
        return p - from;
    };
    if (*p == '+' || *p == '-') ++p;
    auto n = digits();
    if (*p == '.') ++p, n += digits();
    if (n == 0) return false;
    if (*p == 'e' || *p == 'E') {
        ++p;
        if (*p == '+' || *p == '-') ++p;
        if (digits() == 0) return false;
    }
    return *p == '\0';
}

}  // namespace

bool parseDecimal(const char* text, double min, double max, double* out) {
    if (text == nullptr || !decimalText(text)) return false;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (*end != '\0' || !(v >= min && v <= max)) return false;
    *out = v;
    return true;
}

}  // namespace vdx
