// Verdanox: start-up and main loop.
#include <cstdio>

#include "app/VerdanoxWindow.h"
#include "app/config.h"
#include "link/link.h"

namespace {
// The toolkit keys its settings registry by application name and vendor.
const char kVendorKey[] = "www.verdanox.example";
}  // namespace

int main(int argc, char** argv) {
    std::setbuf(stdout, nullptr);  // the link's diagnostic lines go out at once
    vdx::readConfigFile();
    vdx::loadKeyTable();

    int status = 0;
    {
        FXApp app("Verdanox tool", kVendorKey);
        app.init(argc, argv);
        const int found = vdx::findStick();
        vdx::VerdanoxWindow* window = new vdx::VerdanoxWindow(&app);
        app.create();
        if (found == 0) {
            window->showStickNotFound();
        } else if (vdx::openStick() != 0) {
            status = app.run();
        } else {
            window->showStickOpenFailed();
        }
    }  // the application deletes the window, if still there, and so closes the link
    return status;
}
