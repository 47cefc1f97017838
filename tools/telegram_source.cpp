#include "tools/telegram_source.h"

#include "session/configuration.h"
#include "session/startup.h"

namespace vdx {

int loadTelegramSource(const char* program, const SourceOptions& o, Rig* rig) {
    std::string problem;
    if (o.rig == nullptr) {
        if (!loadConfiguration(o.config, &problem)) {
            tell(program, problem);
            if (o.config != nullptr) return 1;
        }
        *rig = configurationRig(o.plain, o.interval);
        return 0;
    }
    if (o.config != nullptr) return tell(program, "--rig and --config do not go together"), 2;
    if (o.plain) return tell(program, "--plain does not go with --rig: the rig says each meter's security"), 2;
    if (!readRig(o.rig, rig, &problem)) {
        tell(program, problem);
        return problem.rfind("cannot read ", 0) == 0 ? 1 : 2;
    }
    return 0;
}

}  // namespace vdx
