// Loading the meter configuration: the one way every Verdanox program turns
// a VDXconfig.txt into the key table and the meter table's addresses.
#pragma once

#include <string>

#include "config/rig.h"

namespace vdx {

// Reads `path`, or VDXconfig.txt in the current folder when `path` is
// nullptr, and fills the key table and every meter's address. False when
// the file could not be read; `problem` then says where the program looked
// and why, and, for the default file, that all addresses and keys are zero
// (the programs go on with them). A file the user named must be readable:
// the tools end on it.
bool loadConfiguration(const char* path, std::string* problem);

// The meter table's addresses from configuration lines 1 to 10.
void loadMeterAddresses();

// The ten meters of the loaded configuration as a rig: in turns every
// `interval` seconds, the fixed block, security mode 7 (plain with `plain`).
Rig configurationRig(bool plain, double interval);

}  // namespace vdx
