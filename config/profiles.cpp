#include "config/profiles.h"

#include <fstream>
#include <map>
#include <sstream>

#include "config/record_reader.h"
#include "config/rig_text.h"

namespace vdx {
namespace {

const char* const kOrder[] = {"gas-fixed", "gas", "water", "warm-water", "heat", "heat-cost-allocator", "electricity"};

void readProfileTable(const toml::table& root, const TomlFields& f, MeterProfile* p) {
    f.allowKeys(root, {"header", "fill", "records"});
    if (const toml::node* n = root.get("header")) {
        const std::string v = f.text(*n, "\"long\", \"short\" or \"none\"");
        if (v != "long" && v != "short" && v != "none") f.fail(*n, "header must be \"long\", \"short\" or \"none\"");
        p->header = v == "long" ? HeaderForm::Long : v == "short" ? HeaderForm::Short : HeaderForm::None;
    }
    if (const toml::node* n = root.get("fill")) {
        const std::string v = f.text(*n, "\"always\" or \"encrypted\"");
        if (v != "always" && v != "encrypted") f.fail(*n, "fill must be \"always\" or \"encrypted\"");
        p->fillAlways = v == "always";
    }
    const toml::node* records = root.get("records");
    if (records == nullptr) f.fail(root, "a profile needs its records");
    p->records = readRecords(*records, f);
    if (recordsSize(p->records) > kMaxBlockSize)  // and so more than kMaxRecords
        f.fail(*records, "the records take " + std::to_string(recordsSize(p->records)) + " bytes, more than " +
                             std::to_string(kMaxBlockSize) + " fit one telegram");
}

std::map<std::string, std::shared_ptr<const MeterProfile>> readBuiltIns() {
    std::map<std::string, std::shared_ptr<const MeterProfile>> all;
    for (size_t i = 0; i < kProfileTextCount; ++i) {
        auto p = std::make_shared<MeterProfile>();
        std::string error;
        if (!parseProfile(kProfileTexts[i].text, std::string(kProfileTexts[i].name) + ".toml", p.get(), &error))
            continue;  // the tests read every built-in profile
        p->name = kProfileTexts[i].name;
        p->gasReadings = p->name == "gas-fixed";
        all[p->name] = p;
    }
    return all;
}

}  // namespace

std::shared_ptr<const MeterProfile> builtInProfile(const std::string& name) {
    static const auto all = readBuiltIns();
    const auto found = all.find(name);
    return found != all.end() ? found->second : nullptr;
}

std::string builtInProfileNames() {
    std::string names;
    for (const char* n : kOrder) names += (names.empty() ? "" : ", ") + std::string(n);
    return names;
}

const char* defaultProfileName(uint8_t type) {
    switch (type) {
        case 0x02:
            return "electricity";
        case 0x04:
        case 0x0C:
            return "heat";
        case 0x06:
            return "warm-water";
        case 0x07:
            return "water";
        case 0x08:
            return "heat-cost-allocator";
        default:
            return "gas-fixed";
    }
}

bool parseProfile(const std::string& original, const std::string& name, MeterProfile* profile, std::string* error) {
    std::string text = original;
    if (!checkTomlText(&text, name, error)) return false;
    toml::parse_result parsed = toml::parse(text, name);
    if (!parsed) {
        const toml::parse_error& e = parsed.error();
        *error = name + ":" + std::to_string(e.source().begin.line) + ":" + std::to_string(e.source().begin.column) +
                 ": " + std::string(e.description());
        return false;
    }
    MeterProfile p;
    try {
        readProfileTable(parsed.table(), TomlFields(name), &p);
    } catch (const TomlError& e) {
        *error = e.text;
        return false;
    }
    p.name = name;
    *profile = std::move(p);
    return true;
}

bool readProfile(const std::string& path, MeterProfile* profile, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        *error = "cannot read " + path;
        return false;
    }
    return parseProfile(text.str(), path, profile, error);
}

}  // namespace vdx
