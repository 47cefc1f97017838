#include "link/linux/linux_platform.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/link.h"

namespace vdx {
namespace {

// D2XX status codes used here.
constexpr int kFtOk = 0;
constexpr int kFtInvalidHandle = 1;
constexpr int kFtDeviceNotFound = 2;
constexpr int kFtDeviceNotOpened = 3;
constexpr int kFtIoError = 4;
constexpr int kFtInvalidParameter = 6;

constexpr char kFtdiVendor[] = "0403";
// The device list holds a serial number in 16 bytes: 15 characters and the
// terminator. Opening by serial number compares the same cut text.
constexpr size_t kFtdiSerialChars = 15;

struct BaudCode {
    uint32_t rate;
    speed_t code;
};
const BaudCode kBaudCodes[] = {{9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
                               {115200, B115200},   {230400, B230400},   {460800, B460800},   {921600, B921600},
                               {1000000, B1000000}, {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000}};

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return s;
}

int fd(LinkHandle h) { return static_cast<int>(h); }

// The termios of PortSettings::native, or the port's own when it has none.
bool nativeTermios(LinkHandle h, const PortSettings& s, termios* t) {
    if (s.native.size() == sizeof(termios)) {
        std::memcpy(t, s.native.data(), sizeof(termios));
        return true;
    }
    return tcgetattr(fd(h), t) == 0;
}

// Raw mode: bytes pass unchanged in both directions (no echo, no CR/LF
// translation, no XON/XOFF, no signal characters), reads return at once.
// Hardware flow control and the other driver settings are kept.
void makeRaw(termios* t) {
    t->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                         IXANY | INPCK | IUCLC | IMAXBEL);
    t->c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t->c_cflag |= CREAD | CLOCAL;
    t->c_cc[VMIN] = 0;
    t->c_cc[VTIME] = 0;
}

bool applyLine(LinkHandle h, termios t, uint32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
    const auto code = std::find_if(std::begin(kBaudCodes), std::end(kBaudCodes),
                                   [baud](const BaudCode& b) { return b.rate == baud; });
    if (code == std::end(kBaudCodes) || byteSize < 5 || byteSize > 8 || parity > 2 || stopBits > 2) return false;
    cfsetispeed(&t, code->code);
    cfsetospeed(&t, code->code);
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | sizes[byteSize - 5];
    t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CSTOPB);
    if (parity == 1) t.c_cflag |= PARENB | PARODD;  // ODDPARITY
    if (parity == 2) t.c_cflag |= PARENB;           // EVENPARITY
    if (stopBits != 0) t.c_cflag |= CSTOPB;         // 1.5 or 2 stop bits
    makeRaw(&t);
    return tcsetattr(fd(h), TCSANOW, &t) == 0;
}

uint64_t nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// Waits in poll(2) until `events` can be done on f, the device hangs up, or
// `timeoutMs` pass. A tty that hangs up (a USB stick pulled out, a
// pseudo-terminal whose other end closed) stays "readable" for ever; it
// counts as hung up once nothing is left queued on it.
WaitResult waitFor(int f, short events, uint64_t timeoutMs) {
    const uint64_t deadline = nowMs() + timeoutMs;
    for (;;) {
        const uint64_t now = nowMs();
        pollfd p = {f, events, 0};
        const int r = poll(&p, 1, static_cast<int>(now >= deadline ? 0 : std::min<uint64_t>(deadline - now, 60000)));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return WaitResult::HungUp;
        if (r == 0) return WaitResult::TimedOut;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            int queued = 0;
            const bool data = events == POLLIN && ioctl(f, FIONREAD, &queued) == 0 && queued > 0;
            return data ? WaitResult::Ready : WaitResult::HungUp;
        }
        return WaitResult::Ready;
    }
}

// Reads n bytes into, or writes n bytes from, `buffer` through a non-blocking
// descriptor until all have passed or `boundMs` is over, sleeping in poll(2)
// while nothing can pass; `done` counts them. False on an error of the device
// (for example a stick that was pulled out).
bool transferWithin(int f, uint8_t* buffer, uint32_t n, uint32_t* done, bool writing, uint64_t boundMs) {
    *done = 0;
    const uint64_t deadline = nowMs() + boundMs;
    while (*done < n) {
        const ssize_t r = writing ? write(f, buffer + *done, n - *done) : read(f, buffer + *done, n - *done);
        if (r > 0) {
            *done += static_cast<uint32_t>(r);
            continue;
        }
        // a raw tty (VMIN = VTIME = 0) answers "nothing queued" with 0, like
        // EAGAIN; poll tells that apart from a hang-up
        if (r < 0 && errno != EAGAIN && errno != EINTR) return false;
        const uint64_t now = nowMs();
        if (now >= deadline) break;  // time-out: fewer bytes
        if (waitFor(f, writing ? POLLOUT : POLLIN, deadline - now) == WaitResult::HungUp) return false;
    }
    return true;
}

}  // namespace

LinuxPlatform::LinuxPlatform(std::string sysRoot, std::string devRoot)
    : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {}

bool LinuxPlatform::findPortsClass() { return access((sysRoot_ + "/class/tty").c_str(), R_OK) == 0; }

bool LinuxPlatform::listSerialPorts(std::vector<SerialPortInfo>& ports) {
    if (!findPortsClass()) return false;
    for (const UsbTty& tty : scanUsbTtys(sysRoot_)) {
        SerialPortInfo info;
        info.instanceId = "USB\\VID_" + upper(tty.vendorId) + "&PID_" + upper(tty.productId) + "\\" + tty.serial;
        info.portName = devRoot_ + "/" + tty.name;
        info.description = tty.product;
        ports.push_back(info);
    }
    return true;
}

PortOpenResult LinuxPlatform::probePort(const std::string& portName) {
    LinkHandle h = kNoHandle;
    const PortOpenResult result = openPort(portName, &h);
    if (result == PortOpenResult::Ok) portClose(h);
    return result;
}

PortOpenResult LinuxPlatform::openPort(const std::string& portName, LinkHandle* handle) {
    *handle = kNoHandle;
    const int f = open(portName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (f < 0) {
        const int error = fail(errno);
        if (error == EBUSY) return PortOpenResult::Busy;  // another program's exclusive mode
        return error == ENOENT || error == ENODEV || error == ENXIO ? PortOpenResult::NotFound : PortOpenResult::Error;
    }
    // exclusive: a port that another program holds is busy
    if (flock(f, LOCK_EX | LOCK_NB) != 0) {
        const int error = fail(errno);
        close(f);
        return error == EWOULDBLOCK ? PortOpenResult::Busy : PortOpenResult::Error;
    }
    // TIOCEXCL also keeps out programs that do not lock. A tty that is
    // exclusive already belongs to another program (root may open it anyway):
    // busy, and its mode is left alone.
    int exclusive = 0;
    if (ioctl(f, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        fail(EBUSY);
        close(f);
        return PortOpenResult::Busy;
    }
    if (ioctl(f, TIOCEXCL) == 0) exclusiveSet_.insert(f);
    *handle = f;
    return PortOpenResult::Ok;
}

bool LinuxPlatform::getPortSettings(LinkHandle h, PortSettings* s) {
    termios t;
    if (tcgetattr(fd(h), &t) != 0) return fail(errno), false;
    s->native.assign(reinterpret_cast<const uint8_t*>(&t), reinterpret_cast<const uint8_t*>(&t) + sizeof t);
    const speed_t speed = cfgetospeed(&t);
    s->baudRate = 0;
    for (const BaudCode& b : kBaudCodes)
        if (b.code == speed) s->baudRate = b.rate;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            s->byteSize = 5;
            break;
        case CS6:
            s->byteSize = 6;
            break;
        case CS7:
            s->byteSize = 7;
            break;
        default:
            s->byteSize = 8;
            break;
    }
    s->parity = (t.c_cflag & PARENB) ? ((t.c_cflag & PARODD) ? 1 : 2) : 0;
    s->stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    return true;
}

bool LinuxPlatform::setPortSettings(LinkHandle h, const PortSettings& s) {
    termios t;
    errno = 0;
    if (nativeTermios(h, s, &t) && applyLine(h, t, s.baudRate, s.byteSize, s.parity, s.stopBits)) return true;
    fail(errno != 0 ? errno : EINVAL);  // a setting the tty cannot take
    return false;
}

bool LinuxPlatform::setPortTimeouts(LinkHandle h, const PortTimeouts& timeouts) {
    if (fcntl(fd(h), F_GETFD) < 0) return fail(errno), false;
    timeouts_[h] = timeouts;
    return true;
}

// The tty driver's queues have fixed sizes; nothing to set.
bool LinuxPlatform::setPortQueues(LinkHandle h, uint32_t, uint32_t) { return fcntl(fd(h), F_GETFD) >= 0; }

bool LinuxPlatform::portBytesWaiting(LinkHandle h, uint32_t* count) {
    int n = 0;
    if (ioctl(fd(h), FIONREAD, &n) != 0 || n < 0) return fail(errno), false;
    *count = static_cast<uint32_t>(n);
    return true;
}

bool LinuxPlatform::portRead(LinkHandle h, uint8_t* buffer, uint32_t n, uint32_t* got) {
    *got = 0;
    if (n == 0) return true;
    const ssize_t r = read(fd(h), buffer, n);
    if (r < 0 && errno != EAGAIN) fail(errno);
    if (r < 0) return errno == EAGAIN;
    *got = static_cast<uint32_t>(r);
    return true;
}

// Writes within the port's write time-out; an FTDI device, which has none
// set, takes the same 10 ms per byte plus 50 ms.
bool LinuxPlatform::portWrite(LinkHandle h, const uint8_t* buffer, uint32_t n, uint32_t* written) {
    const auto t = timeouts_.find(h);
    const PortTimeouts limits = t != timeouts_.end() ? t->second : PortTimeouts{0xFFFFFFFFu, 0, 0, 10, 50};
    return transferWithin(fd(h), const_cast<uint8_t*>(buffer), n, written, true,
                          uint64_t(limits.writeMultiplier) * n + limits.writeConstant) ||
           (fail(errno), false);
}

void LinuxPlatform::portClose(LinkHandle h) {
    if (h < 0) return;
    timeouts_.erase(h);
    // Let go in this order: the lock, then the exclusive mode (only if this
    // link set it; a pseudo-terminal whose other end stays open would
    // otherwise refuse the next open by a non-root user), then the
    // descriptor. A program that waits for the port can take it as soon as
    // the exclusive mode is lifted.
    flock(fd(h), LOCK_UN);
    if (exclusiveSet_.erase(h) != 0) ioctl(fd(h), TIOCNXCL);
    close(fd(h));
}

WaitResult LinuxPlatform::portWaitInput(LinkHandle h, uint32_t timeoutMs) { return waitFor(fd(h), POLLIN, timeoutMs); }

bool LinuxPlatform::portPurgeInput(LinkHandle h) { return tcflush(fd(h), TCIFLUSH) == 0 || (fail(errno), false); }

std::vector<UsbTty> LinuxPlatform::ftdiDevices() {
    std::vector<UsbTty> all = scanUsbTtys(sysRoot_), ftdi;
    for (const UsbTty& tty : all)
        if (tty.vendorId == kFtdiVendor) ftdi.push_back(tty);
    return ftdi;
}

int LinuxPlatform::ftdiCreateDeviceInfoList(uint32_t* count) {
    *count = static_cast<uint32_t>(ftdiDevices().size());
    return kFtOk;
}

int LinuxPlatform::ftdiGetDeviceInfoList(DeviceListEntry* list, uint32_t* count) {
    const std::vector<UsbTty> devices = ftdiDevices();
    const uint32_t n = std::min<uint32_t>(*count, static_cast<uint32_t>(devices.size()));
    for (uint32_t i = 0; i < n; ++i) {
        DeviceListEntry& e = list[i];
        std::memset(&e, 0, sizeof e);
        e.id = static_cast<uint32_t>(std::strtoul(devices[i].vendorId.c_str(), nullptr, 16) << 16 |
                                     std::strtoul(devices[i].productId.c_str(), nullptr, 16));
        // terminated text, cut to the record's fields (the record was zeroed)
        devices[i].serial.copy(e.serialNumber, kFtdiSerialChars);
        devices[i].product.copy(e.description, sizeof e.description - 1);
    }
    *count = n;
    return kFtOk;
}

int LinuxPlatform::ftdiOpenBySerial(const char* serial, LinkHandle* handle) {
    *handle = kNoHandle;
    std::string chosen;
    for (const UsbTty& tty : ftdiDevices())
        if (tty.serial.substr(0, kFtdiSerialChars) == serial) chosen = tty.name;
    if (chosen.empty()) {
        lastError_ = std::string("no FTDI device has serial number ") + serial;
        return kFtDeviceNotFound;
    }
    return openPort(devRoot_ + "/" + chosen, handle) == PortOpenResult::Ok ? kFtOk : kFtDeviceNotOpened;
}

int LinuxPlatform::ftdiSetBaudRate(LinkHandle h, uint32_t baud) {
    PortSettings s;
    if (!getPortSettings(h, &s)) return kFtInvalidHandle;
    s.baudRate = baud;
    return setPortSettings(h, s) ? kFtOk : kFtInvalidParameter;
}

int LinuxPlatform::ftdiSetDataCharacteristics(LinkHandle h, uint8_t wordLength, uint8_t stopBits, uint8_t parity) {
    PortSettings s;
    if (!getPortSettings(h, &s)) return kFtInvalidHandle;
    s.byteSize = wordLength;
    s.stopBits = stopBits;  // FT_STOP_BITS_1 = 0, FT_STOP_BITS_2 = 2
    s.parity = parity;      // FT_PARITY_NONE = 0, ODD = 1, EVEN = 2
    if (s.baudRate == 0) s.baudRate = 9600;
    return setPortSettings(h, s) ? kFtOk : kFtInvalidParameter;
}

// An FTDI device is a tty here: the D2XX calls are the port's calls with
// D2XX statuses.
int LinuxPlatform::ftdiGetStatus(LinkHandle h, uint32_t* rx, uint32_t* tx, uint32_t* event) {
    *tx = 0;
    *event = 0;
    return portBytesWaiting(h, rx) ? kFtOk : kFtIoError;
}

// Like a D2XX read with a read time-out of kReadWaitBoundMs: waits for n
// bytes, then returns what arrived.
int LinuxPlatform::ftdiRead(LinkHandle h, uint8_t* buffer, uint32_t n, uint32_t* got) {
    return transferWithin(fd(h), buffer, n, got, false, kReadWaitBoundMs) ? kFtOk : (fail(errno), kFtIoError);
}

int LinuxPlatform::ftdiWrite(LinkHandle h, const uint8_t* buffer, uint32_t n, uint32_t* written) {
    return portWrite(h, buffer, n, written) ? kFtOk : kFtIoError;
}

int LinuxPlatform::ftdiClose(LinkHandle h) {
    if (h < 0) return kFtInvalidHandle;
    portClose(h);
    return kFtOk;
}

WaitResult LinuxPlatform::ftdiWaitInput(LinkHandle h, uint32_t timeoutMs) { return portWaitInput(h, timeoutMs); }

// The FTDI device is a tty here too, so both transports can be watched.
LinkHandle LinuxPlatform::watchableHandle(LinkHandle h) { return h; }

int LinuxPlatform::fail(int error) {
    lastError_ = std::strerror(error);
    return error;
}

std::string LinuxPlatform::lastErrorText() { return lastError_; }
std::string LinuxPlatform::ftdiErrorDetail() { return lastError_; }

uint64_t LinuxPlatform::monotonicMs() { return nowMs(); }

void LinuxPlatform::sleepMs(uint32_t ms) {
    const timespec t = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    nanosleep(&t, nullptr);
}

LinkPlatform& linkPlatformDefault() {
    static LinuxPlatform platform;
    return platform;
}

}  // namespace vdx
