// The mocked USB RF stick: the CDC stick's sysfs entries (vendor 10C4,
// product 0003) in a umockdev testbed and a pseudo-terminal as its tty. The
// first stick is /dev/ttyACM0 (after a replug the next number), stick k of
// several /dev/ttyACM<10k> on. The program under test finds it through its
// real sysfs and serial code; this side holds the pseudo-terminal's other end.
#pragma once

#include <umockdev.h>

#include <functional>
#include <string>

namespace vstick {

class UsbStick {
public:
    // Stick number `slot` (from 0) of the testbed, which all sticks share.
    UsbStick(std::string serial, UMockdevTestbed* testbed, int slot);
    ~UsbStick();
    UsbStick(const UsbStick&) = delete;
    UsbStick& operator=(const UsbStick&) = delete;

    // Plugs the stick in: its sysfs entries and a fresh pseudo-terminal
    // behind /dev/ttyACM0. False with a message when umockdev refuses.
    bool plugIn(std::string* error);
    // Pulls it out: the sysfs entries go away and the tty hangs up.
    void unplug();

    bool plugged() const { return master_ >= 0; }
    int master() const { return master_; }                       // non-blocking, raw
    const std::string& tty() const { return tty_; }              // the port's name in the program
    const std::string& slavePath() const { return slavePath_; }  // the program's end
    const std::string& serial() const { return serial_; }

    // Runs after each ioctl the program made on the port, with its request.
    std::function<void(unsigned long request)> afterIoctl;

private:
    static gboolean handleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);

    std::string serial_;
    UMockdevTestbed* testbed_;
    UMockdevIoctlBase* handler_;
    int master_ = -1;
    int slot_;
    int generation_ = 0;  // how often it was plugged in before
    std::string tty_;     // "/dev/ttyACM0" the first time
    std::string slavePath_;
};

}  // namespace vstick
