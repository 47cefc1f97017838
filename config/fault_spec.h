// Fault rules as the command line gives them:
//   KIND[:every=N|:at=N,M,...|:probability=P][:seed=S]
// (no every, at or probability: every telegram).
#pragma once

#include <string>

#include "telegram/faults.h"

namespace vdx {

// False with what is wrong in `error`.
bool parseFaultSpec(const std::string& text, FaultRule* rule, std::string* error);

// The check both the command line and rig files make once each number was
// read in range: at most one of `every`, `at` and `probability` (`ways`
// counts those given). Empty when right.
std::string faultRuleProblem(const FaultRule& rule, int ways);

}  // namespace vdx
