#include "Platform.h"

#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstring>

#include "Catalogue.h"
#include "Failure.h"
#include "Protocol.h"
#include "Win32SerialServices.h"

namespace cli {

namespace {

std::atomic<int> interrupts{0};
const char* interruptMessage = nullptr;

// Runs on a thread of its own that Windows starts for the console event.
BOOL WINAPI OnInterrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (interrupts.fetch_add(1) > 0) TerminateProcess(GetCurrentProcess(), 130);
    if (interruptMessage != nullptr) {
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), interruptMessage,
                  static_cast<DWORD>(strlen(interruptMessage)), &written, nullptr);
    }
    return TRUE;
}

}  // namespace

// COM numbers are the system's own on Windows: there is no port folder.
std::unique_ptr<SerialServices> MakeSerialServices(const PortSetup&) {
    return std::make_unique<Win32SerialServices>();
}

std::string PortFolderProblem(const PortSetup&) { return ""; }

// The display language, as the window takes it too: "pl" for Polish, "en" for
// English, nothing for any other.
std::vector<std::string> UserLanguages() {
    switch (PRIMARYLANGID(GetUserDefaultUILanguage())) {
        case LANG_POLISH:
            return {"pl"};
        case LANG_ENGLISH:
            return {"en"};
        default:
            return {};
    }
}

// Windows names its serial ports COMn and nothing else.
int PortForDevice(const std::string& path, PortSetup&) {
    throw Failure(kExitUsage, Say("{}: on Windows a port is named COMn", path));
}

// The device object that the name COMn stands for, e.g. \Device\Serial0.
std::string DeviceOf(int n, const PortSetup&) {
    const std::string name = "COM" + std::to_string(n);
    char target[512] = {};
    if (QueryDosDeviceA(name.c_str(), target, sizeof(target)) == 0) return "";
    return target;
}

// Windows tells whether another program holds a port only to a program that
// opens it, and many drivers raise DTR on opening, which may reset a device. So
// every port with a device counts as free here; one that is held refuses the
// open of the command that wants it, as a missing one would.
std::vector<PortInfo> ListPorts(const PortSetup& setup) {
    std::vector<PortInfo> ports;
    for (int n = protocol::kFirstPort; n <= protocol::kLastPort; ++n) {
        PortInfo info;
        info.number = n;
        info.device = DeviceOf(n, setup);
        if (info.device.empty()) continue;
        info.state = PortInfo::State::Free;
        ports.push_back(info);
    }
    return ports;
}

// What keeps a program off a port on Windows is seen only by opening it.
std::vector<Obstacle> Obstacles(const PortSetup&) { return {}; }

std::string AccessMend(const std::string&) { return ""; }

std::string PortsLookedAt(const PortSetup&) { return Tr("looked at COM1 to COM32"); }

// A console counts as a terminal when it takes the escape sequences of the live
// progress; one that does not gets plain lines.
bool IsTerminal(std::FILE* stream) {
    if (_isatty(_fileno(stream)) == 0) return false;
    HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    return GetConsoleMode(console, &mode) != 0 &&
           SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

// Windows has no TERM; a console that takes the escape sequences shows colour.
bool ColourTerminal(std::FILE* stream) { return IsTerminal(stream); }

TerminalSize TerminalSizeOf(std::FILE* stream) {
    HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    CONSOLE_SCREEN_BUFFER_INFO info{};
    TerminalSize result;
    if (GetConsoleScreenBufferInfo(console, &info) != 0) {
        result.columns = info.srWindow.Right - info.srWindow.Left + 1;
        result.rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    }
    return result;
}

void CatchInterrupts(const char* firstMessage) {
    interruptMessage = firstMessage;
    SetConsoleCtrlHandler(OnInterrupt, TRUE);
}

int Interrupts() { return interrupts.load(); }

}  // namespace cli
