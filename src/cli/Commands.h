#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Output.h"
#include "Platform.h"
#include "ReaderSession.h"
#include "SerialServices.h"

// One function per subcommand. Each returns the exit code or throws Failure;
// CommErr that leaves one is a communication error.
namespace cli {

// The output, the services and the reader session that a command works with.
// After an upgrade the reader is asked again on its own port only.
struct Context {
    Output& out;
    PortSetup setup;
    std::unique_ptr<SerialServices> services;
    session::ReaderSession reader;

    Context(Output& out, const PortSetup& setup);
    // Finds the reader on COM port, or by the window's search when port is 0,
    // and leaves its port open. Throws Failure (no reader) when none answers,
    // CommErr (PortHeld, NotPermitted, DeviceGone) when the port cannot be opened.
    void Connect(int port);
};

// "ZANTOR-40": the reader identified last.
std::string ModelName(const session::ReaderSession& reader);
// The whole contents of a file, or Failure (bad input) naming it.
std::string ReadFileOrFail(const std::string& path, const char* what);

struct LedBuzzer {
    std::string led = "green";  // green, red, both, off
    int time = 5;               // tenths of a second, 0: for good
    std::string buzzer = "11000000";
};

int RunPorts(Output& out, const PortSetup& setup, bool json, bool probe);
int RunIdentify(Context& context, int port, bool json);
int RunConfigGet(Context& context, int port, bool json);
int RunConfigSet(Context& context, int port, bool dryRun, const std::string& profilePath);
int RunUpgrade(Context& context, int port, const std::string& imagePath, bool yes);
int RunMonitor(Context& context, int port, double durationS);
int RunSend(Context& context, int port, const std::vector<std::string>& commands,
            const LedBuzzer& l);
int RunDoctor(Output& out, const PortSetup& setup);

}  // namespace cli
