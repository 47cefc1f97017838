#include "session/startup.h"

namespace vdx {

void prepareProcess() {}

void binaryStandardOutput() {}

}  // namespace vdx
