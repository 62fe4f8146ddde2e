#include "Win32SerialServices.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace {

void ToDcb(const LineSettings& settings, DCB& dcb) {
    dcb.DCBlength = settings.dcbLength;
    dcb.BaudRate = settings.baudRate;
    dcb.fBinary = settings.binary;
    dcb.fParity = settings.parityCheck;
    dcb.fOutxCtsFlow = settings.outxCtsFlow;
    dcb.fOutxDsrFlow = settings.outxDsrFlow;
    dcb.fDtrControl = settings.dtrControl;
    dcb.fDsrSensitivity = settings.dsrSensitivity;
    dcb.fTXContinueOnXoff = settings.txContinueOnXoff;
    dcb.fOutX = settings.outX;
    dcb.fInX = settings.inX;
    dcb.fErrorChar = settings.errorCharReplace;
    dcb.fNull = settings.discardNull;
    dcb.fRtsControl = settings.rtsControl;
    dcb.fAbortOnError = settings.abortOnError;
    dcb.XonLim = settings.xonLim;
    dcb.XoffLim = settings.xoffLim;
    dcb.ByteSize = settings.byteSize;
    dcb.Parity = settings.parity;
    dcb.StopBits = settings.stopBits;
    dcb.XonChar = settings.xonChar;
    dcb.XoffChar = settings.xoffChar;
    dcb.ErrorChar = settings.errorChar;
    dcb.EofChar = settings.eofChar;
    dcb.EvtChar = settings.evtChar;
}

void FromDcb(const DCB& dcb, LineSettings& settings) {
    settings.dcbLength = dcb.DCBlength;
    settings.baudRate = dcb.BaudRate;
    settings.binary = dcb.fBinary;
    settings.parityCheck = dcb.fParity;
    settings.outxCtsFlow = dcb.fOutxCtsFlow;
    settings.outxDsrFlow = dcb.fOutxDsrFlow;
    settings.dtrControl = static_cast<uint8_t>(dcb.fDtrControl);
    settings.dsrSensitivity = dcb.fDsrSensitivity;
    settings.txContinueOnXoff = dcb.fTXContinueOnXoff;
    settings.outX = dcb.fOutX;
    settings.inX = dcb.fInX;
    settings.errorCharReplace = dcb.fErrorChar;
    settings.discardNull = dcb.fNull;
    settings.rtsControl = static_cast<uint8_t>(dcb.fRtsControl);
    settings.abortOnError = dcb.fAbortOnError;
    settings.xonLim = dcb.XonLim;
    settings.xoffLim = dcb.XoffLim;
    settings.byteSize = dcb.ByteSize;
    settings.parity = dcb.Parity;
    settings.stopBits = dcb.StopBits;
    settings.xonChar = dcb.XonChar;
    settings.xoffChar = dcb.XoffChar;
    settings.errorChar = dcb.ErrorChar;
    settings.eofChar = dcb.EofChar;
    settings.evtChar = dcb.EvtChar;
}

}  // namespace

Win32SerialServices::~Win32SerialServices() {
    while (!ports.empty()) Close(ports.begin()->first);
}

void* Win32SerialServices::Find(PortHandle handle) const {
    auto found = ports.find(handle);
    return found == ports.end() ? nullptr : found->second;
}

PortHandle Win32SerialServices::Open(int portNumber) {
    const std::string name = "\\\\.\\COM" + std::to_string(portNumber);
    HANDLE port = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        // A COM port is opened exclusively: access is denied while another
        // program has it open, and Windows does not say which.
        const DWORD error = GetLastError();
        lastFailure = {};
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            lastFailure = {OpenFailure::Reason::Held, name.substr(4), {0, "", "open"}};
        } else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            lastFailure.reason = OpenFailure::Reason::Missing;
        }
        return kInvalidPortHandle;
    }
    lastFailure = {};
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(port, &dcb)) {
        CloseHandle(port);
        return kInvalidPortHandle;
    }
    const PortHandle handle = nextHandle++;
    ports[handle] = port;
    return handle;
}

OpenFailure Win32SerialServices::LastOpenFailure() { return lastFailure; }

bool Win32SerialServices::GetState(PortHandle handle, LineSettings& settings) {
    void* port = Find(handle);
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (port == nullptr || !GetCommState(port, &dcb)) return false;
    FromDcb(dcb, settings);
    return true;
}

bool Win32SerialServices::SetState(PortHandle handle, const LineSettings& settings) {
    void* port = Find(handle);
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (port == nullptr || !GetCommState(port, &dcb)) return false;
    ToDcb(settings, dcb);
    return SetCommState(port, &dcb) != 0;
}

bool Win32SerialServices::SetupQueues(PortHandle handle, uint32_t inQueue, uint32_t outQueue) {
    void* port = Find(handle);
    return port != nullptr && SetupComm(port, inQueue, outQueue) != 0;
}

bool Win32SerialServices::SetTimeouts(PortHandle handle, const CommTimeouts& timeouts) {
    void* port = Find(handle);
    if (port == nullptr) return false;
    COMMTIMEOUTS win{};
    win.ReadIntervalTimeout = timeouts.readIntervalTimeout;
    win.ReadTotalTimeoutMultiplier = timeouts.readTotalTimeoutMultiplier;
    win.ReadTotalTimeoutConstant = timeouts.readTotalTimeoutConstant;
    win.WriteTotalTimeoutMultiplier = timeouts.writeTotalTimeoutMultiplier;
    win.WriteTotalTimeoutConstant = timeouts.writeTotalTimeoutConstant;
    return SetCommTimeouts(port, &win) != 0;
}

// The count that arrived, whatever ReadFile's own answer: an error or a device
// that has gone away ends the read with what came before it.
uint32_t Win32SerialServices::Read(PortHandle handle, uint8_t* buffer, uint32_t count) {
    void* port = Find(handle);
    DWORD got = 0;
    if (port != nullptr) ReadFile(port, buffer, count, &got, nullptr);
    return got;
}

uint32_t Win32SerialServices::Write(PortHandle handle, const uint8_t* bytes, uint32_t count) {
    void* port = Find(handle);
    DWORD written = 0;
    if (port != nullptr) WriteFile(port, bytes, count, &written, nullptr);
    return written;
}

void Win32SerialServices::Close(PortHandle handle) {
    auto found = ports.find(handle);
    if (found == ports.end()) return;
    CloseHandle(found->second);
    ports.erase(found);
}

// Wine names the file behind a COM handle by its path through the drive that
// holds the Unix root ("\\?\Z:\dev\pts\5"), and its kernel32 turns such a
// path back into the Unix name; Windows has neither, so there every COM port
// stays a device.
bool Win32SerialServices::IsStandInLine(PortHandle handle) {
    using UnixFileName = char*(CDECL*)(const wchar_t*);
    void* port = Find(handle);
    const auto unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (port == nullptr || unixFileName == nullptr) return false;
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetFinalPathNameByHandleW(port, path, MAX_PATH, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= MAX_PATH) return false;
    char* name = unixFileName(path);
    if (name == nullptr) return false;
    constexpr std::string_view kPseudoTerminals = "/dev/pts/";
    const std::string_view unixName(name);
    const bool pseudoTerminal =
        unixName.starts_with(kPseudoTerminals) && unixName.size() > kPseudoTerminals.size() &&
        unixName.find_first_not_of("0123456789", kPseudoTerminals.size()) == std::string_view::npos;
    HeapFree(GetProcessHeap(), 0, name);
    return pseudoTerminal;
}

void Win32SerialServices::Sleep(uint32_t ms) { ::Sleep(ms); }

uint64_t Win32SerialServices::NowMs() {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER counter{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    const uint64_t ticks = static_cast<uint64_t>(counter.QuadPart);
    const uint64_t perSecond = static_cast<uint64_t>(frequency.QuadPart);
    // Split so that the multiplication cannot overflow however long the machine runs.
    return ticks / perSecond * 1000u + ticks % perSecond * 1000u / perSecond;
}
