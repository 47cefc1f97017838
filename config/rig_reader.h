// The reader of a rig file's tables, shared by config/rig.cpp (the top
// level, the pieces, the end) and config/rig_meter.cpp (one meter table).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/rig.h"
#include "config/toml_fields.h"

namespace vdx {

class RigReader : public TomlFields {
public:
    RigReader(std::string name, Rig* rig) : TomlFields(std::move(name)), rig_(rig) {}

    // readings, stick, schedule and clock (the meters come one by one).
    void top(const toml::table& root);
    // Room for `tables` meter tables.
    void reserve(size_t tables);
    // One [[meter]] table; `addressAt` where its address's value lies, for
    // a table built without positions (nullptr: the nodes know theirs).
    void meter(const toml::table& t, const toml::source_position* addressAt = nullptr);
    // After the last table: at least one meter (else the error is at
    // `empty`), no address twice.
    void finish(const toml::node& empty);

private:
    void identity(const toml::table& t, const TableKeys& k, SimMeter* m, uint32_t* count);
    void profile(const TableKeys& k, SimMeter* m);
    void drivers(const TableKeys& k, SimMeter* m);
    void frames(const TableKeys& k, SimMeter* m);
    void events(const toml::node& n, ReadingsModel* r);
    void faults(const toml::node& n, std::vector<FaultRule>* rules);
    void check(const toml::table& t, const TableKeys& k, const SimMeter& m);
    std::optional<RadioMode> radio(const TableKeys& k);
    std::shared_ptr<const MeterProfile> namedProfile(const toml::node& n);
    void hex(const toml::node& n, size_t bytes, uint8_t* out, const char* what);
    bool readingsChoice(const toml::node& n);
    int64_t time(const toml::node& n);
    Swing swing(const toml::node& n, const char* what);
    void schedule(const toml::table& t);
    // Settings that would be read and then ignored are refused: a rig says
    // what is sent, never more.
    void noEffect(const TableKeys& k, std::initializer_list<std::string_view> keys, const std::string& why);
    void noEffectInTurns(const toml::table& t, std::initializer_list<const char*> keys);
    void clock(const toml::table& t);

    Rig* rig_;
    bool readingsGiven_ = false, liveByDefault_ = false;
    // the clock's settings, which only meters with live readings show
    std::vector<std::pair<std::string, toml::source_region>> clockKeys_;
    size_t meters_ = 0;  // of the tables read so far
    std::map<std::string, std::shared_ptr<const MeterProfile>> profiles_;
    // every meter's address (M, ID, version, type as one number) and its
    // number; per table, where its address is written
    std::vector<std::pair<uint64_t, size_t>> addresses_;
    std::vector<toml::source_position> addressAt_;
    std::vector<size_t> firstMeter_;
};

}  // namespace vdx
