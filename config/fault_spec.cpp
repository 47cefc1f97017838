#include "config/fault_spec.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace vdx {
namespace {

bool whole(const std::string& text, uint64_t min, uint64_t max, uint64_t* out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || v < min || v > max) return false;
    *out = v;
    return true;
}

}  // namespace

std::string faultRuleProblem(const FaultRule&, int ways) {
    return ways > 1 ? "give one of every, at and probability" : "";
}

bool parseFaultSpec(const std::string& text, FaultRule* rule, std::string* error) {
    std::istringstream parts(text);
    std::string part;
    std::getline(parts, part, ':');
    FaultRule r;
    r.seed = 1;
    r.kind = faultKindOf(part);
    if (r.kind == FaultKind::None) {
        *error = "unknown fault kind \"" + part + "\" (" + faultNames() + ")";
        return false;
    }
    int ways = 0;
    while (std::getline(parts, part, ':')) {
        const size_t eq = part.find('=');
        const std::string name = part.substr(0, eq), value = eq == std::string::npos ? "" : part.substr(eq + 1);
        uint64_t n = 0;
        if (name == "every" && whole(value, 1, 0xFFFFFFFF, &n)) {
            r.every = static_cast<uint32_t>(n), ++ways;
        } else if (name == "at" && !value.empty()) {
            std::istringstream list(value);
            for (std::string item; std::getline(list, item, ',');) {
                if (!whole(item, 1, UINT64_MAX, &n))
                    return *error = "at needs telegram numbers from 1: " + value, false;
                r.at.push_back(n);
            }
            ++ways;
        } else if (name == "probability") {
            char* end = nullptr;
            r.probability = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(r.probability > 0 && r.probability <= 1))
                return *error = "probability must be above 0 and at most 1: " + value, false;
            ++ways;
        } else if (name == "seed" && whole(value, 0, UINT64_MAX, &n)) {
            r.seed = n;
        } else {
            *error = "\"" + part + "\" is not every=N, at=N,M, probability=P or seed=S";
            return false;
        }
    }
    const std::string problem = faultRuleProblem(r, ways);
    if (!problem.empty()) return *error = problem, false;
    if (ways == 0) r.every = 1;
    *rule = r;
    return true;
}

}  // namespace vdx
