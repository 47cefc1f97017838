// Lists tty devices that belong to a USB device, from sysfs:
// /sys/class/tty/NAME/device leads to the USB interface (ACM) or to a
// per-port directory below it (FTDI); the nearest ancestor with idVendor and
// idProduct is the USB device, which also has serial and product.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "link/linux/linux_platform.h"

namespace vdx {
namespace {

// How far above the tty's device directory the USB device may lie.
constexpr int kMaxUsbDepth = 4;

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

}  // namespace

std::vector<UsbTty> scanUsbTtys(const std::string& sysRoot) {
    std::vector<UsbTty> found;
    const std::string classDir = sysRoot + "/class/tty";
    DIR* dir = opendir(classDir.c_str());
    if (dir == nullptr) return found;
    std::vector<std::string> names;
    while (const dirent* e = readdir(dir))
        if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());

    for (const std::string& name : names) {
        // walk up with ".." so that the kernel (or a test's redirection)
        // resolves the symbolic links
        std::string base = classDir + "/" + name + "/device";
        if (!exists(base)) continue;
        for (int depth = 0; depth <= kMaxUsbDepth; ++depth, base += "/..") {
            if (!exists(base + "/idVendor") || !exists(base + "/idProduct")) continue;
            found.push_back({name, firstLine(base + "/idVendor"), firstLine(base + "/idProduct"),
                             firstLine(base + "/serial"), firstLine(base + "/product")});
            break;
        }
    }
    return found;
}

}  // namespace vdx
