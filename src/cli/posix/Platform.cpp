#include "Platform.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "Catalogue.h"
#include "ComPorts.h"
#include "ComPortsInternal.h"
#include "Failure.h"
#include "Language.h"
#include "PosixSerialServices.h"

namespace cli {

namespace {

std::atomic<int> interrupts{0};
const char* interruptMessage = nullptr;

void OnInterrupt(int) {
    if (interrupts.fetch_add(1) > 0) {
        // The exclusive flag of a pseudo-terminal outlives our descriptor and
        // would keep every later run off the port; lock files would linger.
        PosixSerialServices::GiveBackMarks();
        _exit(130);
    }
    if (interruptMessage != nullptr) {
        const ssize_t ignored = write(STDERR_FILENO, interruptMessage, strlen(interruptMessage));
        (void)ignored;
    }
}

std::string FolderOf(const PortSetup& setup) {
    return setup.folder.empty() ? comports::UserPortFolder() : setup.folder;
}

}  // namespace

std::unique_ptr<SerialServices> MakeSerialServices(const PortSetup& setup) {
    PosixSerialServices::Options options;
    options.portFolder = setup.folder;
    options.systemPorts = setup.systemPorts;
    options.devices = setup.devices;
    return std::make_unique<PosixSerialServices>(std::move(options));
}

std::vector<std::string> UserLanguages() { return language::FromEnvironment(); }

std::string PortFolderProblem(const PortSetup& setup) {
    if (setup.folder.empty()) return "";
    const std::string why = comports::WhyNotTrusted(setup.folder);
    // The port folder's reasons are the link's, in English; the fixed ones are
    // in the catalogue too.
    return why.empty()
               ? ""
               : Say("ZANTOR_PORT_FOLDER={} is not used: {}", setup.folder, Tr(why.c_str()));
}

std::string DeviceOf(int n, const PortSetup& setup) {
    const auto named = setup.devices.find(n);
    if (named != setup.devices.end()) return named->second;
    return comports::ResolvePort(n, FolderOf(setup), setup.systemPorts).value_or("");
}

// A path is given the number that already leads to its device, so that a port
// is never reached by two numbers; a number that the folder names stays the
// folder's even when its link is unusable.
int PortForDevice(const std::string& path, PortSetup& setup) {
    const comports::NamedDevice named = comports::CheckDevicePath(path);
    if (named.device.empty()) {
        throw Failure(kExitUsage, fmt::format("{}: {}", path, Tr(named.refusal.c_str())));
    }
    int unused = 0;
    for (int n = protocol::kFirstPort; n <= protocol::kLastPort; ++n) {
        const std::string device = DeviceOf(n, setup);
        if (device == named.device) return n;
        if (unused == 0 && device.empty() && !comports::IsFolderEntry(n, FolderOf(setup))) {
            unused = n;
        }
    }
    if (unused == 0) {
        throw Failure(kExitUsage,
                      Say("{}: every COM number leads to another device already", path));
    }
    setup.devices[unused] = named.device;
    return unused;
}

std::vector<PortInfo> ListPorts(const PortSetup& setup) {
    std::vector<PortInfo> ports;
    for (int n = protocol::kFirstPort; n <= protocol::kLastPort; ++n) {
        const comports::PortDescription port =
            comports::DescribePort(n, FolderOf(setup), setup.systemPorts);
        if (port.device.empty() && port.state == comports::PortState::Missing) continue;
        PortInfo info;
        info.number = n;
        info.device = port.device;
        info.byId = comports::ByIdName(port.device);
        info.fromFolder = port.origin == comports::PortOrigin::Folder;
        switch (port.state) {
            case comports::PortState::Free:
                info.state = PortInfo::State::Free;
                break;
            case comports::PortState::Held:
                info.state = PortInfo::State::Held;
                break;
            case comports::PortState::NotPermitted:
                info.state = PortInfo::State::NotPermitted;
                break;
            case comports::PortState::Missing:
                info.state = PortInfo::State::Missing;
                break;
        }
        if (port.holder) {
            info.holderPid = port.holder->pid;
            info.holderProgram = port.holder->program;
            info.holderHow = port.holder->how;
        }
        ports.push_back(info);
    }
    return ports;
}

std::string PortsLookedAt(const PortSetup& setup) {
    const std::string folder = FolderOf(setup);
    const std::string why = comports::WhyNotTrusted(folder);
    const std::string notUsed = why.empty() ? "" : Say(" (not used: {})", Tr(why.c_str()));
    return setup.systemPorts
               ? Say("looked in the port folder {}{} and at the system's serial ports (ttyS with "
                     "hardware, ttyUSB, ttyACM in /sys/class/tty)",
                     folder, notUsed)
               : Say("looked in the port folder {}{}; ZANTOR_PORT_FOLDER turns the system's ports "
                     "off",
                     folder, notUsed);
}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

bool ColourTerminal(std::FILE* stream) {
    const char* term = std::getenv("TERM");
    return IsTerminal(stream) && term != nullptr && *term != '\0' &&
           std::string_view(term) != "dumb";
}

TerminalSize TerminalSizeOf(std::FILE* stream) {
    winsize size{};
    TerminalSize result;
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
        result.columns = size.ws_col;
        result.rows = size.ws_row;
    }
    return result;
}

void CatchInterrupts(const char* firstMessage) {
    interruptMessage = firstMessage;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int Interrupts() { return interrupts.load(); }

}  // namespace cli
