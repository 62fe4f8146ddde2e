#include "Platform.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "ComPorts.h"
#include "PosixSerialServices.h"

namespace cli {

namespace {

std::atomic<int> interrupts{0};
const char* interruptMessage = nullptr;

void OnInterrupt(int) {
    if (interrupts.fetch_add(1) > 0) _exit(130);
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
    return std::make_unique<PosixSerialServices>(
        PosixSerialServices::Options{setup.folder, setup.systemPorts});
}

std::string DeviceOf(int n, const PortSetup& setup) {
    return comports::ResolvePort(n, FolderOf(setup), setup.systemPorts).value_or("");
}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

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
