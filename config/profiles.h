// Meter profiles as data. The built-in ones are the files of
// examples/profiles, compiled in; a rig may name a file of its own (a copy
// of one, changed). A profile file says:
//
//   header = "short"     # transport header: "long" (CI 72), "short" (7A), "none" (78)
//   fill = "encrypted"   # "always": 2F 2F and fill in plain telegrams too
//   records = [ ... ]    # data records, see config/record_reader.h
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "telegram/profile.h"

namespace vdx {

struct ProfileText {
    const char* name;
    const char* text;
};
extern const ProfileText kProfileTexts[];
extern const size_t kProfileTextCount;

// The built-in profile `name` ("gas-fixed", "gas", "water", "warm-water",
// "heat", "heat-cost-allocator", "electricity"), read once; nullptr when
// there is none.
std::shared_ptr<const MeterProfile> builtInProfile(const std::string& name);
// "gas-fixed, gas, water, ...", for messages.
std::string builtInProfileNames();

// The profile of a device type when a rig names none: 02 electricity, 04
// and 0C heat, 06 warm-water, 07 water, 08 heat-cost-allocator, any other
// (03 among them) gas-fixed.
const char* defaultProfileName(uint8_t deviceType);

// A profile from TOML text (`name` stands for the file in messages) or from
// the file at `path`; false with "FILE:LINE:COLUMN: what is wrong", or
// "cannot read FILE".
bool parseProfile(const std::string& text, const std::string& name, MeterProfile* profile, std::string* error);
bool readProfile(const std::string& path, MeterProfile* profile, std::string* error);

}  // namespace vdx
