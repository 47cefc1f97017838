#include "config/rig.h"

#include <algorithm>
#include <cctype>

#include "config/config.h"
#include "config/record_reader.h"
#include "config/rig_pieces.h"
#include "config/rig_reader.h"
#include "config/rig_text.h"
#include "telegram/readings.h"

namespace vdx {

size_t Rig::meterCount() const {
    size_t n = 0;
    for (const SimMeter& m : meters) n += m.count;
    return n;
}

MeterIndex::MeterIndex(const Rig& rig) {
    bool single = true;
    for (const SimMeter& m : rig.meters) single = single && m.count == 1;
    size_ = single ? rig.meters.size() : 0;
    if (single) return;
    first_.reserve(rig.meters.size());
    for (const SimMeter& m : rig.meters) first_.push_back(size_), size_ += m.count;
}

void MeterIndex::locate(size_t meter, size_t* table, uint32_t* index) const {
    if (first_.empty()) {
        *table = meter, *index = 0;
        return;
    }
    *table = static_cast<size_t>(std::upper_bound(first_.begin(), first_.end(), meter) - first_.begin()) - 1;
    *index = static_cast<uint32_t>(meter - first_[*table]);
}

double meterIntervalOf(const Rig& rig, size_t table, double interval) {
    const double own = table < rig.meterInterval.size() ? rig.meterInterval[table] : 0;
    return own > 0 ? own : interval;
}

double meterOffsetOf(const Rig& rig, size_t table, uint32_t index, double interval) {
    const double given = table < rig.meterOffset.size() ? rig.meterOffset[table] : 0;
    if (given >= 0) return given;
    const uint32_t count = rig.meters[table].count;
    return interval * index / count;
}

void RigReader::top(const toml::table& root) {
    allowKeys(root, {"readings", "stick", "schedule", "clock", "meter"});
    if (const toml::node* n = root.get("readings")) readingsGiven_ = true, liveByDefault_ = readingsChoice(*n);
    if (const toml::node* n = root.get("stick")) rig_->stick = text(*n, "a serial number or a port");
    if (const toml::node* n = root.get("schedule")) schedule(table(*n));
    if (const toml::node* n = root.get("clock")) clock(table(*n));
}

void RigReader::reserve(size_t tables) {
    rig_->meters.reserve(tables);
    rig_->meterInterval.reserve(tables);
    rig_->meterOffset.reserve(tables);
    rig_->meterRadio.reserve(tables);
    addressAt_.reserve(tables);
    firstMeter_.reserve(tables);
}

void RigReader::finish(const toml::node& empty) {
    if (rig_->meters.empty()) fail(empty, "a rig needs at least one [[meter]] table");
    const bool clockShown =
        std::any_of(rig_->meters.begin(), rig_->meters.end(), [](const SimMeter& m) { return m.live; });
    if (!clockShown && !clockKeys_.empty()) {
        setLineOffset(0);
        fail(clockKeys_[0].second, clockKeys_[0].first +
                                       " has no effect with readings = \"fixed\" on every meter (the fixed block "
                                       "carries its own date; readings = \"live\" uses the clock)");
    }
    // no address twice: the first meter in file order whose address an
    // earlier one has
    std::sort(addresses_.begin(), addresses_.end());
    size_t duplicate = SIZE_MAX;
    for (size_t i = 1; i < addresses_.size(); ++i)
        if (addresses_[i].first == addresses_[i - 1].first) duplicate = std::min(duplicate, addresses_[i].second);
    if (duplicate == SIZE_MAX) return;
    const size_t table =
        static_cast<size_t>(std::upper_bound(firstMeter_.begin(), firstMeter_.end(), duplicate) - firstMeter_.begin()) -
        1;
    uint8_t address[8];
    meterAddress(rig_->meters[table], static_cast<uint32_t>(duplicate - firstMeter_[table]), address);
    char hexText[17];
    for (int i = 0; i < 8; ++i) std::snprintf(hexText + 2 * i, 3, "%02X", address[i]);
    setLineOffset(0);
    fail(toml::source_region{addressAt_[table], addressAt_[table], nullptr},
         std::string("duplicate address ") + hexText);
}

bool RigReader::readingsChoice(const toml::node& n) {
    const std::string v = text(n, "\"fixed\" or \"live\"");
    if (v != "fixed" && v != "live") fail(n, "readings must be \"fixed\" or \"live\"");
    return v == "live";
}

int64_t RigReader::time(const toml::node& n) {
    if (n.is_date_time()) {
        const toml::date_time dt = *n.value<toml::date_time>();
        if (!dt.offset) fail(n, "a time needs its offset from UTC (Z)");
        if (dt.time.nanosecond != 0) fail(n, "a time in whole seconds (the meter clock counts seconds)");
        const int64_t t =
            unixTime(dt.date.year, dt.date.month, dt.date.day, dt.time.hour, dt.time.minute, dt.time.second) -
            int64_t(dt.offset->minutes) * 60;
        if (civilTime(t).year < 2000 || civilTime(t).year > 2099) fail(n, "a time from 2000 to 2099");
        return t;
    }
    int64_t t = 0;
    if (!n.is_string() || !parseMeterTime(*n.value<std::string>(), &t))
        fail(n, "a time such as \"2026-01-31T23:50:00Z\", from 2000 to 2099");
    return t;
}

void RigReader::hex(const toml::node& n, size_t bytes, uint8_t* out, const char* what) {
    const std::string v = text(n, what);
    if (v.size() != 2 * bytes)
        fail(n, std::string(what) + ": wrong length, " + std::to_string(2 * bytes) + " hexadecimal digits");
    for (char c : v)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            fail(n, std::string(what) + ": bad hex digit '" + std::string(1, c) + "'");
    hexToBytes(v.c_str(), out, bytes);
}

void RigReader::schedule(const toml::table& t) {
    allowKeys(t, {"mode", "interval", "gap"});
    if (const toml::node* n = t.get("mode")) {
        const std::string v = text(*n, "\"turns\" or \"each\"");
        if (v != "turns" && v != "each") fail(*n, "schedule mode must be \"turns\" or \"each\"");
        rig_->schedule = v == "each" ? ScheduleMode::Each : ScheduleMode::Turns;
    }
    if (const toml::node* n = t.get("interval"))
        rig_->interval = milliseconds(*n, kMinInterval, kMaxInterval, "interval");
    if (const toml::node* n = t.get("gap")) rig_->gap = milliseconds(*n, 0, 3600, "gap");
    if (rig_->schedule == ScheduleMode::Turns) noEffectInTurns(t, {"gap"});
}

void RigReader::noEffect(const TableKeys& k, std::initializer_list<std::string_view> keys, const std::string& why) {
    for (std::string_view key : keys)
        if (const toml::node* n = k.get(key)) fail(*n, std::string(key) + " has no effect " + why);
}

void RigReader::noEffectInTurns(const toml::table& t, std::initializer_list<const char*> keys) {
    for (const char* key : keys)
        if (const toml::node* n = t.get(key))
            fail(*n, std::string(key) + " has no effect in schedule mode \"turns\" (mode = \"each\" uses it)");
}

void RigReader::clock(const toml::table& t) {
    allowKeys(t, {"start", "speed"});
    for (const char* key : {"start", "speed"})  // refused in finish() when no meter shows the clock
        if (const toml::node* n = t.get(key)) clockKeys_.emplace_back(key, n->source());
    if (const toml::node* n = t.get("start"); n != nullptr && !(n->is_string() && *n->value<std::string>() == "now")) {
        rig_->startNow = false;
        rig_->start = time(*n);
    }
    if (const toml::node* n = t.get("speed")) rig_->speed = number(*n, 1e-6, kMaxSpeed, "speed");
}

namespace {

[[noreturn]] void parseFailure(const toml::parse_error& e, const std::string& name, int lineOffset) {
    throw TomlError{name + ":" + std::to_string(e.source().begin.line + lineOffset) + ":" +
                    std::to_string(e.source().begin.column) + ": " + std::string(e.description())};
}

// The file as one document, as toml++ reads it.
void readWhole(const std::string& text, const std::string& name, RigReader& reader) {
    toml::parse_result parsed = toml::parse(text, name);
    if (!parsed) parseFailure(parsed.error(), name, 0);
    const toml::table& root = parsed.table();
    reader.top(root);
    const toml::node* meters = root.get("meter");
    if (meters != nullptr && meters->is_array_of_tables())
        for (const toml::node& m : *meters->as_array()) reader.meter(*m.as_table());
    reader.finish(meters != nullptr ? *meters : static_cast<const toml::node&>(root));
}

// The file a [[meter]] table at a time; false when it must be read whole
// (its top level names the meters otherwise).
bool readInPieces(const std::string& text, const std::string& name, RigReader& reader) {
    RigPieces pieces;
    if (!cutRig(text, &pieces)) return false;
    toml::parse_result parsed = toml::parse(pieces.top, name);
    if (!parsed) parseFailure(parsed.error(), name, 0);
    const toml::table& root = parsed.table();
    if (root.get("meter") != nullptr && !pieces.meters.empty()) return false;
    reader.top(root);
    reader.reserve(pieces.meters.size());
    for (const RigPieces::Piece& p : pieces.meters) {
        const std::string_view piece(text.data() + p.begin, p.end - p.begin);
        reader.setLineOffset(p.line - 1);
        toml::table simple;
        toml::source_position addressAt{};
        if (simpleTable(piece, &simple, &addressAt)) {
            addressAt.line += static_cast<toml::source_index>(p.line - 1);
            try {
                reader.meter(simple, &addressAt);
                continue;
            } catch (const TomlError&) {
                // read again below, where every node knows where it is
            }
        }
        toml::source_position at{};
        if (recordsPast(piece, kMaxRecords, &at)) {  // the reader's line offset is the piece's
            toml::source_region region;
            region.begin = region.end = at;
            reader.fail(region, tooManyRecords());
        }
        toml::parse_result one = toml::parse(piece, std::string_view());
        if (!one) parseFailure(one.error(), name, p.line - 1);
        reader.meter(*one.table().get("meter")->as_array()->get(0)->as_table());
    }
    reader.setLineOffset(0);
    const toml::node* meters = root.get("meter");
    reader.finish(meters != nullptr ? *meters : static_cast<const toml::node&>(root));
    return true;
}

}  // namespace

namespace {

// The text is the caller's to change (a file of a million meters is not
// copied).
bool parseRigText(std::string& text, const std::string& name, Rig* rig, std::string* error) {
    if (!checkTomlText(&text, name, error)) return false;
    Rig result;
    try {
        RigReader pieces(name, &result);
        if (!readInPieces(text, name, pieces)) {
            result = Rig();
            RigReader whole(name, &result);
            readWhole(text, name, whole);
        }
    } catch (const TomlError& e) {
        *error = e.text;
        return false;
    }
    *rig = std::move(result);
    return true;
}

}  // namespace

bool parseRig(const std::string& original, const std::string& name, Rig* rig, std::string* error) {
    std::string text = original;
    return parseRigText(text, name, rig, error);
}

bool readRig(const std::string& path, Rig* rig, std::string* error) {
    std::string text;
    return readRigText(path, &text, error) && parseRigText(text, path, rig, error);
}

}  // namespace vdx
