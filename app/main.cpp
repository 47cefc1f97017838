// Verdanox: start-up and main loop.
#include <cstdio>
#include <string>

#include "app/VerdanoxWindow.h"
#include "app/config.h"
#include "link/link.h"

namespace {
// The toolkit keys its settings registry by application name and vendor.
const char kVendorKey[] = "www.verdanox.example";

// A problem the user should hear of, on stderr, one line each.
void tell(const std::string& text) {
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        std::fprintf(stderr, "verdanox: %s\n", text.substr(start, end - start).c_str());
    std::fprintf(stderr, "verdanox: %s\n", text.substr(start).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    std::setbuf(stdout, nullptr);  // the link's diagnostic lines go out at once
    std::string problem;
    if (!vdx::readConfigFile(&problem)) tell(problem + " (all meter addresses and keys are zero)");
    vdx::loadKeyTable();

    int status = 0;
    {
        FXApp app("Verdanox tool", kVendorKey);
        app.init(argc, argv);
        const int found = vdx::findStick();
        vdx::VerdanoxWindow* window = new vdx::VerdanoxWindow(&app);
        app.create();
        if (found == 0) {
            tell(vdx::explainStickNotFound());
            window->showStickNotFound();
        } else if (vdx::openStick() != 0) {
            status = app.run();
        } else {
            tell(vdx::explainOpenFailure());
            window->showStickOpenFailed();
        }
    }  // the application deletes the window, if still there, and so closes the link
    return status;
}
