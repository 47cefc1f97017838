#include "session/startup.h"

namespace vdx {

void prepareProcess() {}

}  // namespace vdx
