// Fault rules as the command line gives them:
//   KIND[:every=N|:at=N,M,...|:probability=P][:seed=S]
// (no every, at or probability: every telegram).
#pragma once

#include <string>

#include "telegram/faults.h"

namespace vdx {

// False with what is wrong in `error`.
bool parseFaultSpec(const std::string& text, FaultRule* rule, std::string* error);

// The checks both the command line and rig files make: `every` or `at` or
// `probability` (at most one of them), numbers in range. Empty when right.
std::string faultRuleProblem(const FaultRule& rule, int ways);

}  // namespace vdx
