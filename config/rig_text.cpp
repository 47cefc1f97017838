#include "config/rig_text.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "config/rig.h"
#include "telegram/readings.h"

namespace vdx {
namespace {

// How deep toml++ nests at the current point of the text, from the
// characters outside strings and comments: the levels of the last [table]
// header (two for [[array.of.tables]]), and per open array or inline table
// (level 0: the line) one for the bracket and one for each dot of the key
// path whose value is open there.
class Nesting {
public:
    int take(char c) {
        const bool top = dots_.size() == 1;
        switch (c) {
            case '\n':
                reset();
                inValue_ = inHeader_ = false;
                break;
            case '[':
                if (inHeader_)
                    ++header_;  // [[array of tables]]
                else if (top && !inValue_)
                    inHeader_ = true, header_ = 1;
                else
                    dots_.push_back(0);
                break;
            case '{':
                dots_.push_back(0);
                break;
            case ']':
            case '}':
                if (c == ']' && inHeader_)
                    inHeader_ = false;
                else if (!top)
                    total_ -= dots_.back(), dots_.pop_back();
                break;
            case '.':
                inHeader_ ? ++header_ : (++dots_.back(), ++total_);
                break;
            case '=':
                inValue_ = inValue_ || top;
                break;
            case ',':
                reset();
                break;
        }
        return header_ + static_cast<int>(dots_.size()) - 1 + total_;
    }

private:
    void reset() { total_ -= dots_.back(), dots_.back() = 0; }

    int header_ = 0, total_ = 0;  // total_: the dots in dots_
    bool inHeader_ = false, inValue_ = false;
    std::vector<int> dots_{0};
};

bool fail(std::string* error, const std::string& name, int line, int column, const std::string& what) {
    *error = name + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + what;
    return false;
}

// "2026" as 2026: exactly `n` decimal digits at `at`, no sign, no blank.
bool digits(const std::string& s, size_t at, size_t n, int* out) {
    if (at + n > s.size()) return false;
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    *out = v;
    return true;
}

// A directory opens for reading on some systems and not on others: it is
// told the same way on all. (Windows' stat does not take a final separator.)
bool isDirectory(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool readRigText(const std::string& path, std::string* text, std::string* error) {
    errno = 0;
    std::FILE* f = isDirectory(path) ? (errno = EISDIR, nullptr) : std::fopen(path.c_str(), "rb");
    if (f == nullptr) return *error = "cannot read " + path + ": " + std::strerror(errno), false;
    text->clear();
    char buffer[65536];
    for (size_t n; text->size() <= kMaxRigBytes && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        text->append(buffer, n);
    const int reason = errno;
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return *error = "cannot read " + path + ": " + std::strerror(reason != 0 ? reason : EIO), false;
    return true;
}

// The characters that change something in each state of the scan (its
// state, the nesting, or the ASCII check): a rig of a million meters is
// 130 MB, nearly all of it characters that change nothing.
namespace {

struct TellingCharacters {
    bool table[6][256] = {};
    TellingCharacters() {
        const char* tells[6] = {"#\"'\n[]{}.=,", "\n", "\"\\\n", "'\n", "\"\\\n", "'\n"};
        for (size_t s = 0; s < 6; ++s) {
            for (const char* c = tells[s]; *c != '\0'; ++c) table[s][static_cast<unsigned char>(*c)] = true;
            for (size_t c = 0x80; c < 256; ++c) table[s][c] = true;
        }
    }
    const bool* operator[](size_t s) const { return table[s]; }
};
const TellingCharacters kTells;

}  // namespace

// toml++ 3.3 reaches undefined behaviour on some characters beyond ASCII
// (its table of non-ASCII white space falls through to "unreachable" for
// U+00A1, for example), and nothing a rig says needs them. So no byte above
// 0x7F reaches it: in a comment such a byte becomes a space (a comment may
// well be written in the user's language), anywhere else it is an error.
// The same pass bounds the nesting.
bool checkTomlText(std::string* text, const std::string& name, std::string* error) {
    if (text->size() > kMaxRigBytes) return *error = name + ": larger than 256 MiB, the most a rig file may be", false;
    if (text->compare(0, 3, "\xEF\xBB\xBF") == 0) text->erase(0, 3);  // the byte order mark some editors write
    TomlScan state = TomlScan::Plain;
    Nesting nesting;
    int line = 1, column = 1;
    std::string& t = *text;
    for (size_t i = 0; i < t.size();) {
        const char c = t[i];
        if (!kTells[static_cast<size_t>(state)][static_cast<unsigned char>(c)]) {  // most characters
            ++i, ++column;
            continue;
        }
        if (static_cast<unsigned char>(c) > 0x7F) {
            if (state != TomlScan::Comment)
                return fail(error, name, line, column, "only ASCII characters, outside comments");
            t[i] = ' ';
            ++i, ++column;
            continue;
        }
        bool syntax = false;
        const size_t n = scanToml(t, i, &state, &syntax);
        if (syntax && nesting.take(c) > kMaxTomlNesting)
            return fail(error, name, line, column,
                        "nested deeper than " + std::to_string(kMaxTomlNesting) +
                            " levels (table headers, dotted keys, arrays and inline tables)");
        i += n;
        column = c == '\n' ? (++line, 1) : column + static_cast<int>(n);
    }
    return true;
}

// RFC 3339 with whole seconds: every field unsigned digits of its exact
// width, the offset Z, +HH:MM or -HH:MM.
bool parseMeterTime(const std::string& text, int64_t* t) {
    int y, mo, d, h, mi, s, oh = 0, om = 0;
    if (!(text.size() == 20 || text.size() == 25) || !digits(text, 0, 4, &y) || text[4] != '-' ||
        !digits(text, 5, 2, &mo) || text[7] != '-' || !digits(text, 8, 2, &d) || text[10] != 'T' ||
        !digits(text, 11, 2, &h) || text[13] != ':' || !digits(text, 14, 2, &mi) || text[16] != ':' ||
        !digits(text, 17, 2, &s))
        return false;
    const char zone = text[19];
    if (text.size() == 20 ? zone != 'Z'
                          : (zone != '+' && zone != '-') || !digits(text, 20, 2, &oh) || text[22] != ':' ||
                                !digits(text, 23, 2, &om) || oh > 23 || om > 59)
        return false;
    const int offset = (zone == '-' ? -1 : 1) * (oh * 60 + om);
    if (y < 2000 || y > 2099 || mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59) return false;
    const int64_t v = unixTime(y, mo, d, h, mi, s);
    if (civilTime(v).day != d) return false;  // no 31 February
    *t = v - int64_t(offset) * 60;
    return civilTime(*t).year >= 2000 && civilTime(*t).year <= 2099;
}

}  // namespace vdx
