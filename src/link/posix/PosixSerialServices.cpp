#include "PosixSerialServices.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "ComPorts.h"
#include "ComPortsInternal.h"
#include "TermiosMapping.h"

// Fields of LineSettings that termios cannot express (DCB length, binary mode,
// DSR sensitivity, XON/XOFF limits, error/EOF/event characters...) are kept as
// last set, so that what GetState delivered and the caller left alone comes back
// unchanged.
struct PosixSerialServices::OpenDevice {
    int fd = -1;
    termios original{};
    LineSettings kept;
    CommTimeouts timeouts;
    uint64_t byteNs = 0;   // one character on the line at the port's rate and framing
    std::string lockFile;  // ours, empty when no lock folder took one
    int crashSlot = -1;
};

namespace {

struct BaudSpeed {
    uint32_t baud;
    speed_t speed;
};

constexpr BaudSpeed kBaudSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
#endif
};

std::optional<speed_t> SpeedOf(uint32_t baud) {
    for (const BaudSpeed& entry : kBaudSpeeds) {
        if (entry.baud == baud) return entry.speed;
    }
    return std::nullopt;
}

uint32_t BaudOf(speed_t speed) {
    for (const BaudSpeed& entry : kBaudSpeeds) {
        if (entry.speed == speed) return entry.baud;
    }
    return 0;
}

#ifdef CMSPAR
constexpr tcflag_t kMarkSpaceParity = CMSPAR;
#else
constexpr tcflag_t kMarkSpaceParity = 0;
#endif
#ifdef CRTSCTS
constexpr tcflag_t kCtsRtsFlow = CRTSCTS;
#else
constexpr tcflag_t kCtsRtsFlow = 0;
#endif
#ifdef IUCLC
constexpr tcflag_t kUpperToLower = IUCLC;
#else
constexpr tcflag_t kUpperToLower = 0;
#endif

// The termios bits that SetState decides; the read-back compares exactly these.
constexpr tcflag_t kInputBits = IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR |
                                ICRNL | IXON | IXOFF | IXANY | kUpperToLower;
constexpr tcflag_t kOutputBits = OPOST;
constexpr tcflag_t kLocalBits = ECHO | ECHONL | ICANON | ISIG | IEXTEN;
constexpr tcflag_t kControlBits =
    CSIZE | CSTOPB | PARENB | PARODD | CLOCAL | CREAD | kMarkSpaceParity | kCtsRtsFlow;

constexpr uint8_t kMarkParity = 3;
constexpr uint8_t kSpaceParity = 4;

// POSIX reports success when any part of a change was applied.
bool SameDecidedBits(const termios& asked, const termios& got) {
    return (asked.c_iflag & kInputBits) == (got.c_iflag & kInputBits) &&
           (asked.c_oflag & kOutputBits) == (got.c_oflag & kOutputBits) &&
           (asked.c_lflag & kLocalBits) == (got.c_lflag & kLocalBits) &&
           (asked.c_cflag & kControlBits) == (got.c_cflag & kControlBits) &&
           asked.c_cc[VMIN] == got.c_cc[VMIN] && asked.c_cc[VTIME] == got.c_cc[VTIME] &&
           asked.c_cc[VSTART] == got.c_cc[VSTART] && asked.c_cc[VSTOP] == got.c_cc[VSTOP] &&
           cfgetispeed(&asked) == cfgetispeed(&got) && cfgetospeed(&asked) == cfgetospeed(&got);
}

// Pseudo-terminals have no modem lines; their refusal is not a failure.
bool IsNoModemLines(int error) { return error == ENOTTY || error == EINVAL; }

bool SetModemLine(int fd, int line, bool on) {
    int bits = line;
    return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0 || IsNoModemLines(errno);
}

uint64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

uint64_t DeadlineNs(uint32_t multiplierMs, uint32_t count, uint32_t constantMs) {
    uint64_t totalMs = uint64_t{multiplierMs} * count + constantMs;
    return MonotonicNs() + totalMs * 1'000'000u;
}

// Milliseconds left until the deadline, rounded up so that poll never wakes early.
int MsLeft(uint64_t deadlineNs) {
    uint64_t now = MonotonicNs();
    if (now >= deadlineNs) return 0;
    uint64_t leftMs = (deadlineNs - now + 999'999u) / 1'000'000u;
    return leftMs > INT_MAX ? INT_MAX : static_cast<int>(leftMs);
}

// Waits for the device to be ready in one direction. Returns the poll events, 0 on
// timeout (after a last look at the deadline) and -1 when the wait itself failed.
int WaitReady(int fd, short events, uint64_t deadlineNs) {
    for (;;) {
        pollfd request{fd, events, 0};
        int left = MsLeft(deadlineNs);
        int ready = poll(&request, 1, left);
        if (ready > 0) return request.revents;
        if (ready < 0 && errno != EINTR) return -1;
        if (ready == 0 && left == 0) return 0;
    }
}

void SleepNs(uint64_t ns) {
    timespec left{static_cast<time_t>(ns / 1'000'000'000u), static_cast<long>(ns % 1'000'000'000u)};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// One character on the line: start bit, data bits, parity bit, stop bits; 0
// when the rate is not known.
uint64_t ByteNs(const termios& t) {
    LineSettings framing;
    termios_mapping::FromTermios(t, framing);
    if (framing.baudRate == 0) return 0;
    uint64_t bits = 1u + framing.byteSize + (framing.parity != kNoParity ? 1u : 0u) +
                    (framing.stopBits == kTwoStopBits ? 2u : 1u);
    return bits * 1'000'000'000u / framing.baudRate;
}

// A write counts as done when its bytes have left the UART, as on a port whose
// writes complete on transmission; otherwise a long request would eat into the
// reply's read timeout. The queue is looked at again once the bytes still in it
// can have gone at the port's own rate, so the end is noticed within about a
// character's time. Returns how many of the written bytes are still queued
// when the deadline passes.
uint32_t WaitTransmitted(TtyDriver& driver, int fd, uint32_t written, uint64_t byteNs,
                         uint64_t deadlineNs) {
    for (;;) {
        int queued = driver.OutputQueued(fd);
        if (queued <= 0) return 0;
        uint64_t now = MonotonicNs();
        if (now >= deadlineNs) return std::min<uint32_t>(static_cast<uint32_t>(queued), written);
        uint64_t drainNs = (byteNs != 0 ? byteNs : 1'000'000u) * static_cast<uint32_t>(queued);
        SleepNs(std::min(drainNs, deadlineNs - now));
    }
}

class KernelTtyDriver : public TtyDriver {
public:
    long Write(int fd, const uint8_t* bytes, size_t count) override {
        return write(fd, bytes, count);
    }
    int OutputQueued(int fd) override {
        int queued = 0;
        return ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : -1;
    }
    void Discard(int fd) override { tcflush(fd, TCIOFLUSH); }
    void Close(int fd) override { close(fd); }
};

TtyDriver& Kernel() {
    static KernelTtyDriver kernel;
    return kernel;
}

// Whether another program has set the port's exclusive flag. Root is not kept
// out by the flag, so it is looked for rather than relied on.
bool IsExclusive(int fd) {
    int exclusive = 0;
    return ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
}

// The marks of the ports we hold, for a process that ends by a signal: its
// lock files would stay behind (harmless, their PID is dead), and so would the
// exclusive flag of a pseudo-terminal, which outlives every descriptor of its
// slave while the master is open and would keep the next run off the port. A
// real UART drops the flag with its last close.
class CrashMarks {
public:
    // Installed where the process has left the signal's default in place.
    static int Register(int fd, const std::string& lockFile) {
        std::lock_guard<std::mutex> lock(registering);
        InstallOnce();
        for (int slot = 0; slot < kSlots; ++slot) {
            if (fds[slot].load() != 0) continue;
            lockFile.copy(lockFiles[slot], sizeof lockFiles[slot] - 1);
            lockFiles[slot][std::min(lockFile.size(), sizeof lockFiles[slot] - 1)] = '\0';
            fds[slot].store(fd + 1);
            return slot;
        }
        return -1;
    }
    static void Unregister(int slot) {
        if (slot >= 0) fds[slot].store(0);
    }

private:
    static void InstallOnce() {
        static bool installed = false;
        if (installed) return;
        installed = true;
        for (int sig :
             {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL}) {
            struct sigaction current {};
            if (sigaction(sig, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
            struct sigaction action {};
            action.sa_handler = OnSignal;
            action.sa_flags = SA_RESETHAND;
            sigemptyset(&action.sa_mask);
            sigaction(sig, &action, nullptr);
        }
    }

public:
    // Only calls that are safe in a signal handler.
    static void GiveBack() {
        for (int slot = 0; slot < kSlots; ++slot) {
            int fd = fds[slot].load() - 1;
            if (fd < 0) continue;
            ioctl(fd, TIOCNXCL);
            if (lockFiles[slot][0] != '\0') unlink(lockFiles[slot]);
        }
    }

private:
    // The signal takes its default course as soon as the handler returns.
    static void OnSignal(int sig) {
        GiveBack();
        raise(sig);
    }
    static constexpr int kSlots = 64;
    static inline std::mutex registering;
    static inline std::atomic<int> fds[kSlots] = {};  // descriptor + 1; 0: free
    static inline char lockFiles[kSlots][256] = {};
};

}  // namespace

namespace termios_mapping {

bool ToTermios(const LineSettings& settings, termios& t) {
    std::optional<speed_t> speed = SpeedOf(settings.baudRate);
    if (!speed || settings.byteSize < 5 || settings.byteSize > 8) return false;
    if (settings.stopBits != kOneStopBit && settings.stopBits != kTwoStopBits) return false;
    if (settings.parity > kSpaceParity) return false;
    if (settings.parity >= kMarkParity && kMarkSpaceParity == 0) return false;
    // DTR and RTS are only ever on or off; DSR flow has no termios counterpart.
    if (settings.dtrControl > kDtrControlEnable || settings.rtsControl > kRtsControlEnable) {
        return false;
    }
    if (settings.outxDsrFlow || (settings.outxCtsFlow && kCtsRtsFlow == 0)) return false;

    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_iflag &= ~kInputBits;
    if (settings.parityCheck) t.c_iflag |= INPCK;
    if (settings.outX) t.c_iflag |= IXON;
    if (settings.inX) t.c_iflag |= IXOFF;
    t.c_oflag &= ~kOutputBits;
    t.c_lflag &= ~kLocalBits;
    t.c_cflag &= ~kControlBits;
    t.c_cflag |= CLOCAL | CREAD | kSizes[settings.byteSize - 5];
    if (settings.stopBits == kTwoStopBits) t.c_cflag |= CSTOPB;
    // A parity bit without checking: PARENB alone, INPCK only on request.
    if (settings.parity != kNoParity) t.c_cflag |= PARENB;
    if (settings.parity == kOddParity || settings.parity == kMarkParity) t.c_cflag |= PARODD;
    if (settings.parity >= kMarkParity) t.c_cflag |= kMarkSpaceParity;
    if (settings.outxCtsFlow) t.c_cflag |= kCtsRtsFlow;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = static_cast<cc_t>(settings.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(settings.xoffChar);
    return cfsetispeed(&t, *speed) == 0 && cfsetospeed(&t, *speed) == 0;
}

void FromTermios(const termios& t, LineSettings& settings) {
    settings.baudRate = BaudOf(cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
        case CS5:
            settings.byteSize = 5;
            break;
        case CS6:
            settings.byteSize = 6;
            break;
        case CS7:
            settings.byteSize = 7;
            break;
        default:
            settings.byteSize = 8;
            break;
    }
    settings.stopBits = (t.c_cflag & CSTOPB) != 0 ? kTwoStopBits : kOneStopBit;
    bool odd = (t.c_cflag & PARODD) != 0;
    if ((t.c_cflag & PARENB) == 0) {
        settings.parity = kNoParity;
    } else if (kMarkSpaceParity != 0 && (t.c_cflag & kMarkSpaceParity) != 0) {
        settings.parity = odd ? kMarkParity : kSpaceParity;
    } else {
        settings.parity = odd ? kOddParity : kEvenParity;
    }
    settings.parityCheck = (t.c_iflag & INPCK) != 0;
    settings.outX = (t.c_iflag & IXON) != 0;
    settings.inX = (t.c_iflag & IXOFF) != 0;
    settings.outxCtsFlow = kCtsRtsFlow != 0 && (t.c_cflag & kCtsRtsFlow) != 0;
    settings.xonChar = static_cast<char>(t.c_cc[VSTART]);
    settings.xoffChar = static_cast<char>(t.c_cc[VSTOP]);
}

}  // namespace termios_mapping

PosixSerialServices::PosixSerialServices() : PosixSerialServices(Options{}) {}

PosixSerialServices::PosixSerialServices(Options options)
    : options(std::move(options)),
      driver(this->options.driver ? *this->options.driver : Kernel()) {}

PosixSerialServices::~PosixSerialServices() {
    while (!devices.empty()) Close(devices.begin()->first);
}

PosixSerialServices::OpenDevice* PosixSerialServices::Find(PortHandle handle) {
    auto found = devices.find(handle);
    return found == devices.end() ? nullptr : found->second;
}

// The port is opened without waiting for carrier and without becoming the
// controlling terminal, only once no other program is seen to hold it: nothing
// is opened while a lock file, a lock or another process's descriptor says so,
// and what can only be asked of an open port (the exclusive flag, flock) is
// asked before anything else is done with it. Refused, it is closed as found.
PortHandle PosixSerialServices::Open(int portNumber) {
    lastFailure = {};
    lastNumber = portNumber;
    std::optional<std::string> path = Resolve(portNumber);
    if (!path) return Refuse(OpenFailure::Reason::Missing, "");
    if (std::optional<comports::PortHolder> holder =
            comports::FindHolder(*path, options.lockFolders)) {
        return Refuse(OpenFailure::Reason::Held, *path, std::move(*holder));
    }

    auto device = std::make_unique<OpenDevice>();
    do {
        device->fd = open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (device->fd < 0 && errno == EINTR);
    if (device->fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM)
            return Refuse(OpenFailure::Reason::NotPermitted, *path);
        if (error == EBUSY) return Refuse(OpenFailure::Reason::Held, *path, {0, "", "exclusive"});
        if (error == ENOENT || error == ENXIO || error == EIO || error == ENODEV)
            return Refuse(OpenFailure::Reason::Gone, *path);
        return Refuse(OpenFailure::Reason::Missing, *path);
    }

    // What was found wrong decides what the refusal says; the checks run in
    // this order so that nothing is marked before every other hold is ruled out.
    OpenFailure::Reason refusal = OpenFailure::Reason::Unknown;
    PortHolder holder;
    if (tcgetattr(device->fd, &device->original) != 0) {
        refusal = OpenFailure::Reason::Missing;  // not a terminal: no port
    } else if (IsExclusive(device->fd)) {
        refusal = OpenFailure::Reason::Held;
        holder.how = "exclusive";
    } else if (flock(device->fd, LOCK_EX | LOCK_NB) != 0) {
        refusal = OpenFailure::Reason::Held;
        holder.how = "flock";
    } else if (!comports::TakeLockFile(*path, options.lockFolders, device->lockFile)) {
        refusal = OpenFailure::Reason::Held;
        holder.how = "lock file";
    } else if (ioctl(device->fd, TIOCEXCL) != 0 && !IsNoModemLines(errno)) {
        refusal = OpenFailure::Reason::Unknown;
    } else {
        device->crashSlot = CrashMarks::Register(device->fd, device->lockFile);
        device->byteNs = ByteNs(device->original);
        device->kept.dcbLength = kDcbLength;
        device->kept.binary = true;
        PortHandle handle = nextHandle++;
        devices[handle] = device.release();
        return handle;
    }
    if (!device->lockFile.empty()) comports::ReleaseLockFile(device->lockFile);
    close(device->fd);
    return Refuse(refusal, *path, std::move(holder));
}

std::optional<std::string> PosixSerialServices::Resolve(int portNumber) const {
    auto named = options.devices.find(portNumber);
    if (named != options.devices.end()) {
        comports::NamedDevice device = comports::CheckDevicePath(named->second);
        if (device.device.empty()) return std::nullopt;
        return device.device;
    }
    return comports::ResolvePort(
        portNumber, options.portFolder.empty() ? comports::UserPortFolder() : options.portFolder,
        options.systemPorts);
}

PortHandle PosixSerialServices::Refuse(OpenFailure::Reason reason, const std::string& device,
                                       PortHolder holder) {
    lastFailure = {reason, device, std::move(holder), options.devices.count(lastNumber) != 0};
    return kInvalidPortHandle;
}

OpenFailure PosixSerialServices::LastOpenFailure() { return lastFailure; }

bool PosixSerialServices::GetState(PortHandle handle, LineSettings& settings) {
    OpenDevice* device = Find(handle);
    termios current{};
    if (device == nullptr || tcgetattr(device->fd, &current) != 0) return false;
    settings = device->kept;
    termios_mapping::FromTermios(current, settings);
    int lines = 0;
    if (ioctl(device->fd, TIOCMGET, &lines) == 0) {
        settings.dtrControl = (lines & TIOCM_DTR) != 0 ? kDtrControlEnable : kDtrControlDisable;
        settings.rtsControl = (lines & TIOCM_RTS) != 0 ? kRtsControlEnable : kRtsControlDisable;
    }
    return true;
}

bool PosixSerialServices::SetState(PortHandle handle, const LineSettings& settings) {
    OpenDevice* device = Find(handle);
    termios asked{};
    if (device == nullptr || tcgetattr(device->fd, &asked) != 0) return false;
    if (!termios_mapping::ToTermios(settings, asked)) return false;
    if (tcsetattr(device->fd, TCSANOW, &asked) != 0) return false;
    termios applied{};
    if (tcgetattr(device->fd, &applied) != 0 || !SameDecidedBits(asked, applied)) return false;
    device->byteNs = ByteNs(applied);
    if (!SetModemLine(device->fd, TIOCM_DTR, settings.dtrControl == kDtrControlEnable)) {
        return false;
    }
    if (!SetModemLine(device->fd, TIOCM_RTS, settings.rtsControl == kRtsControlEnable)) {
        return false;
    }
    device->kept = settings;
    return true;
}

// The driver's queues are its own business on POSIX.
bool PosixSerialServices::SetupQueues(PortHandle handle, uint32_t, uint32_t) {
    return Find(handle) != nullptr;
}

// Only the total timeouts are realised: a limit between bytes is refused.
bool PosixSerialServices::SetTimeouts(PortHandle handle, const CommTimeouts& timeouts) {
    OpenDevice* device = Find(handle);
    if (device == nullptr || timeouts.readIntervalTimeout != 0) return false;
    device->timeouts = timeouts;
    return true;
}

// Gathers bytes until the count is reached or the total allowance for the whole
// read has passed; a device that hangs up or fails ends the read at once.
uint32_t PosixSerialServices::Read(PortHandle handle, uint8_t* buffer, uint32_t count) {
    OpenDevice* device = Find(handle);
    if (device == nullptr) return 0;
    uint64_t deadline = DeadlineNs(device->timeouts.readTotalTimeoutMultiplier, count,
                                   device->timeouts.readTotalTimeoutConstant);
    uint32_t got = 0;
    while (got < count) {
        // No POLLIN here means a timeout, or a device hung up or failed (EIO,
        // ENXIO, ENODEV) with nothing left to read.
        int events = WaitReady(device->fd, POLLIN, deadline);
        if (events <= 0 || (events & POLLIN) == 0) break;
        ssize_t n = read(device->fd, buffer + got, count - got);
        if (n > 0) {
            got += static_cast<uint32_t>(n);
            continue;
        }
        if (n == 0 || (errno != EINTR && errno != EAGAIN)) break;  // readable, yet gone
        // A device that keeps signalling input without delivering any must not
        // hold the read past its allowance.
        if (MonotonicNs() >= deadline) break;
    }
    return got;
}

uint32_t PosixSerialServices::Write(PortHandle handle, const uint8_t* bytes, uint32_t count) {
    OpenDevice* device = Find(handle);
    if (device == nullptr) return 0;
    uint32_t multiplier = device->timeouts.writeTotalTimeoutMultiplier;
    uint64_t deadline = DeadlineNs(multiplier, count, device->timeouts.writeTotalTimeoutConstant);
    uint32_t written = 0;
    while (written < count) {
        long n = driver.Write(device->fd, bytes + written, count - written);
        if (n > 0) {
            written += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || errno != EAGAIN || MonotonicNs() >= deadline) break;
        int events = WaitReady(device->fd, POLLOUT, deadline);
        if (events <= 0 || (events & POLLOUT) == 0) break;
    }
    return written - WaitTransmitted(driver, device->fd, written, device->byteNs, deadline);
}

// What is still queued is thrown away first: otherwise closing waits for a
// stalled line to drain (up to 30 s), and restoring the settings could turn
// its flow control back on first. The exclusive flag and the lock file are ours
// (a port marked by another program is never taken); flock ends with the
// descriptor.
void PosixSerialServices::Close(PortHandle handle) {
    auto found = devices.find(handle);
    if (found == devices.end()) return;
    std::unique_ptr<OpenDevice> device(found->second);
    devices.erase(found);
    CrashMarks::Unregister(device->crashSlot);
    driver.Discard(device->fd);
    tcsetattr(device->fd, TCSANOW, &device->original);
    ioctl(device->fd, TIOCNXCL);
    if (!device->lockFile.empty()) comports::ReleaseLockFile(device->lockFile);
    driver.Close(device->fd);
}

void PosixSerialServices::GiveBackMarks() { CrashMarks::GiveBack(); }

void PosixSerialServices::Sleep(uint32_t ms) { SleepNs(uint64_t{ms} * 1'000'000u); }

uint64_t PosixSerialServices::NowMs() { return MonotonicNs() / 1'000'000u; }

// Serial devices (ttyS, ttyUSB, ttyACM...) have majors of their own.
bool PosixSerialServices::IsStandInLine(PortHandle handle) {
    OpenDevice* device = Find(handle);
    struct stat info {};
    return device != nullptr && fstat(device->fd, &info) == 0 && S_ISCHR(info.st_mode) &&
           comports::IsPseudoTerminalMajor(major(info.st_rdev));
}
