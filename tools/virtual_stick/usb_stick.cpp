#include "tools/virtual_stick/usb_stick.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace vstick {
namespace {

// The k-th time stick s is plugged in, it is USB device 1-(10s+k+1) with the
// tty ttyACM<10s+k>: umockdev cannot add a device again under a name it
// had, and a real system may well give a replugged stick another name too.
std::string usbPath(int k) { return "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(k + 1); }
std::string ttyName(int k) { return "ttyACM" + std::to_string(k); }
constexpr int kNamesPerSlot = 10;

std::string description(const std::string& serial, int k) {
    const std::string usb = usbPath(k).substr(4), port = "1-" + std::to_string(k + 1), tty = ttyName(k);
    return "P: " + usb +
           "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=10c4\nA: idProduct=0003\nA: serial=" + serial +
           "\nA: product=Virtual RF stick (Verdanox)\nA: manufacturer=Verdanox\n\n" + "P: " + usb + "/" + port +
           ":1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceClass=02\n\n" + "P: " + usb + "/" + port +
           ":1.0/tty/" + tty + "\nN: " + tty + "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + tty +
           "\nA: dev=166:" + std::to_string(k) + "\nL: device=../../../" + port + ":1.0\n";
}

bool failed(GError* e, std::string* error) {
    *error = e != nullptr ? e->message : "umockdev failed";
    if (e != nullptr) g_error_free(e);
    return false;
}

}  // namespace

UsbStick::UsbStick(std::string serial, UMockdevTestbed* testbed, int slot)
    : serial_(std::move(serial)),
      testbed_(UMOCKDEV_TESTBED(g_object_ref(testbed))),
      handler_(umockdev_ioctl_base_new()),
      slot_(slot) {
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(handleIoctl), this);
}

UsbStick::~UsbStick() {
    g_object_unref(handler_);
    g_object_unref(testbed_);
}

bool UsbStick::plugIn(std::string* error) {
    GError* e = nullptr;
    const int k = kNamesPerSlot * slot_ + generation_;
    tty_ = "/dev/" + ttyName(k);
    if (!umockdev_testbed_add_from_string(testbed_, description(serial_, k).c_str(), &e)) return failed(e, error);
    if (!umockdev_testbed_attach_ioctl(testbed_, tty_.c_str(), handler_, &e)) return failed(e, error);
    master_ = umockdev_testbed_get_dev_fd(testbed_, tty_.c_str());
    if (master_ < 0) return failed(nullptr, error);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    slavePath_ = ptsname(master_) != nullptr ? ptsname(master_) : "";
    termios raw;
    if (tcgetattr(master_, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(master_, TCSANOW, &raw);
    }
    return true;
}

void UsbStick::unplug() {
    if (master_ < 0) return;
    umockdev_testbed_detach_ioctl(testbed_, tty_.c_str(), nullptr);
    const int k = kNamesPerSlot * slot_ + generation_;
    const std::string usb = usbPath(k), port = "/1-" + std::to_string(k + 1) + ":1.0";
    for (const std::string& device : {usb + port + "/tty/" + ttyName(k), usb + port, usb})
        umockdev_testbed_remove_device(testbed_, device.c_str());
    close(master_);  // the program's end hangs up
    master_ = -1;
    // umockdev keeps its map from the pseudo-terminal's name to the device;
    // the name may come back with the next stick
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    std::string map = slavePath_;
    for (char& c : map) c = c == '/' ? '_' : c;
    unlink((std::string(root) + "/dev/.ptymap/" + map).c_str());
    g_free(root);
    ++generation_;
}

// ioctls on the mocked tty reach this process: run them on the program's
// own descriptor and hand back the result.
gboolean UsbStick::handleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    int err = 0;
    GError* error = nullptr;
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    const gint result = umockdev_ioctl_client_execute(client, &err, &error);
    if (error != nullptr) g_error_free(error);
    UsbStick& stick = *static_cast<UsbStick*>(self);
    if (stick.afterIoctl) stick.afterIoctl(request);
    umockdev_ioctl_client_complete(client, result, err);
    return TRUE;
}

}  // namespace vstick
