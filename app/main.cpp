// Verdanox: start-up and main loop.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/VerdanoxWindow.h"
#include "link/link.h"
#include "session/configuration.h"
#include "session/startup.h"

namespace {
// The toolkit keys its settings registry by application name and vendor.
const char kVendorKey[] = "www.verdanox.example";

const char kHelp[] =
    "usage: verdanox [--help] [--version] [FOX toolkit options]\n"
    "Simulates ten wireless M-Bus gas meters through a USB RF stick: finds the\n"
    "stick, opens it and, while sending is on, hands it the SND_NR telegram of\n"
    "the next meter every five seconds. The meters' addresses and keys come\n"
    "from VDXconfig.txt in the current folder. Problems are told on stderr.\n\n"
    "  --help     print this text\n"
    "  --version  print the version\n";

void tell(const std::string& text) { vdx::tell("verdanox", text); }

// Writes the text of --help or --version: exit status 0, or 1 with the
// reason when it could not be written.
int print(const std::string& text) {
    errno = 0;
    if (std::fputs(text.c_str(), stdout) != EOF && std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
    tell(std::string("cannot write standard output: ") + std::strerror(errno != 0 ? errno : EIO));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    vdx::prepareProcess();
    std::setbuf(stdout, nullptr);  // the link's diagnostic lines go out at once
    // these two print and end without a window; any other start is the program
    if (vdx::hasOption(argc, argv, "--version")) return print(std::string("verdanox ") + vdx::kVersion + "\n");
    if (vdx::hasOption(argc, argv, "--help")) return print(kHelp);
    std::string problem;
    const bool configured = vdx::loadConfiguration(nullptr, &problem);
    if (!configured) tell(problem);

    int status = 0;
    {
        FXApp app("Verdanox tool", kVendorKey);
        app.init(argc, argv);
        const int found = vdx::findStick();
        vdx::VerdanoxWindow* window = new vdx::VerdanoxWindow(&app);
        window->setConfigurationMissing(!configured);
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
