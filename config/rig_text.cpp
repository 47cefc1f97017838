#include "config/rig_text.h"

#include <algorithm>
#include <cstdio>

#include "config/rig.h"
#include "telegram/readings.h"

namespace vdx {

// toml++ 3.3 reaches undefined behaviour on some characters beyond ASCII
// (its table of non-ASCII white space falls through to "unreachable" for
// U+00A1, for example), and nothing a rig says needs them. So no byte above
// 0x7F reaches it: in a comment such a byte becomes a space (a comment may
// well be written in the user's language), anywhere else it is an error.
bool asciiForToml(std::string* text, const std::string& name, std::string* error) {
    if (std::none_of(text->begin(), text->end(), [](char c) { return static_cast<unsigned char>(c) > 0x7F; }))
        return true;  // nothing to do, as in almost every file
    enum { Plain, Comment, Basic, Literal, MultiBasic, MultiLiteral } state = Plain;
    int line = 1, column = 1;
    std::string& t = *text;
    for (size_t i = 0; i < t.size(); ++i, ++column) {
        const char c = t[i];
        const bool three = i + 2 < t.size() && t[i + 1] == c && t[i + 2] == c;
        if (static_cast<unsigned char>(c) > 0x7F) {
            if (state == Comment) {
                t[i] = ' ';
                continue;
            }
            *error = name + ":" + std::to_string(line) + ":" + std::to_string(column) +
                     ": only ASCII characters, outside comments";
            return false;
        }
        if (c == '\n') {
            ++line, column = 0;
            if (state == Comment || state == Basic || state == Literal) state = Plain;
            continue;
        }
        switch (state) {
            case Plain:
                if (c == '#') {
                    state = Comment;
                } else if (c == '"' || c == '\'') {
                    if (three) i += 2, column += 2;
                    state = c == '"' ? (three ? MultiBasic : Basic) : (three ? MultiLiteral : Literal);
                }
                break;
            case Basic:
            case MultiBasic:
                if (c == '\\' && i + 1 < t.size() && t[i + 1] != '\n') {
                    ++i, ++column;  // an escaped character
                } else if (c == '"' && (state == Basic || three)) {
                    if (state == MultiBasic) i += 2, column += 2;
                    state = Plain;
                }
                break;
            case Literal:
            case MultiLiteral:
                if (c == '\'' && (state == Literal || three)) {
                    if (state == MultiLiteral) i += 2, column += 2;
                    state = Plain;
                }
                break;
            case Comment:
                break;
        }
    }
    return true;
}

bool parseMeterTime(const std::string& text, int64_t* t) {
    int y, mo, d, h, mi, s, n = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &n) != 6 || n != 19)
        return false;
    const std::string zone = text.substr(19);
    int offset = 0;
    if (zone != "Z") {
        int oh, om, m = 0;
        if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') ||
            std::sscanf(zone.c_str() + 1, "%2d:%2d%n", &oh, &om, &m) != 2 || m != 5 || oh > 23 || om > 59)
            return false;
        offset = (zone[0] == '-' ? -1 : 1) * (oh * 60 + om);
    }
    if (y < 2000 || y > 2099 || mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59) return false;
    const int64_t v = unixTime(y, mo, d, h, mi, s);
    if (civilTime(v).day != d) return false;  // no 31 February
    *t = v - int64_t(offset) * 60;
    return civilTime(*t).year >= 2000 && civilTime(*t).year <= 2099;
}

}  // namespace vdx
