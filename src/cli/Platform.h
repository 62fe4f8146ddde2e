#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "SerialServices.h"

// What zantor needs of the operating system, one realisation per platform:
// the serial services, where a COM number leads, the terminal and Ctrl-C.
namespace cli {

// Where COM numbers lead. ZANTOR_PORT_FOLDER names a port folder to use instead
// of the per-user one and turns the system's serial ports off, so that a test or
// a demo with emulators can never reach a real port.
struct PortSetup {
    std::string folder;  // empty: the per-user folder
    bool systemPorts = true;
    std::map<int, std::string> devices;  // COM numbers given to device paths
};
// Throws Failure (usage) when the variable is set but empty.
PortSetup PortSetupFromEnvironment();
// Why the folder that ZANTOR_PORT_FOLDER names is not used; empty when it is
// used or not named.
std::string PortFolderProblem(const PortSetup& setup);

// What --port takes: a COM number, COMn, or a device path; a path gets the COM
// number that leads to its device already, else the lowest that leads nowhere,
// named for it in setup. Throws Failure (usage) for anything else, and for a
// path whose device may not carry a reader (why is said).
int PortOf(const std::string& text, PortSetup& setup);
// What station --ports takes: such ports and ranges of numbers, by commas
// ("3-6,9,/dev/ttyUSB0"), in the order given, each once.
std::vector<int> PortsOf(const std::string& text, PortSetup& setup);
// A COM number as written: "3", "COM3", "com3"; 0 when it is none of 1..32.
int ComNumber(const std::string& text);
// The platform's half of PortOf for a device path.
int PortForDevice(const std::string& path, PortSetup& setup);

std::unique_ptr<SerialServices> MakeSerialServices(const PortSetup& setup);

// The device that COM n leads to now, empty when none; nothing is opened.
std::string DeviceOf(int n, const PortSetup& setup);
// How COM n is named in messages: "COM3 (/dev/ttyUSB0)", or the path alone
// for a device given by its path, whose number is only a stand-in.
std::string PortLabelOf(int n, const PortSetup& setup);
// The short name: "COM3", or the path of a device given by its path.
std::string PortNameOf(int n, const PortSetup& setup);

// What lets this user open a device that the system refused to open for want
// of permission, as doctor would mend it ("you are not in the group dialout,
// which owns it: sudo usermod ..."); empty when nothing can be said.
std::string AccessMend(const std::string& device);

// What a COM number is now, told without writing to it or changing its line.
struct PortInfo {
    enum class State { Free, Held, NotPermitted, Missing };
    int number = 0;
    std::string device;       // empty when there is none
    std::string byId;         // the name that stays with a USB adapter, empty when none
    bool fromFolder = false;  // the port folder named it, not the system's ports
    State state = State::Missing;
    int holderPid = 0;          // 0 when not known
    std::string holderProgram;  // empty when not known
    std::string holderHow;      // how it is held, empty when not known
};
// Every COM number that names a device, in rising order.
std::vector<PortInfo> ListPorts(const PortSetup& setup);
// Where ListPorts looks, in words, for a message that it found nothing.
std::string PortsLookedAt(const PortSetup& setup);

// What stands between this machine and a reader, and the command that mends it.
struct Obstacle {
    std::string what;
    std::string mend;
};
std::vector<Obstacle> Obstacles(const PortSetup& setup);

// The user's languages, most wanted first: on Linux from LANGUAGE, LC_ALL,
// LC_MESSAGES and LANG as Qt reads them, on Windows the display language.
std::vector<std::string> UserLanguages();

bool IsTerminal(std::FILE* stream);
// Whether the terminal shows colour: not TERM=dumb. NO_COLOR is the caller's.
bool ColourTerminal(std::FILE* stream);
// The terminal's window; 80 x 24 when it does not say.
struct TerminalSize {
    int columns = 80;
    int rows = 24;
    bool operator==(const TerminalSize&) const = default;
};
TerminalSize TerminalSizeOf(std::FILE* stream);

// From now on the first Ctrl-C is only counted (and the message, when given,
// printed on stderr); a second one ends the program at once with status 130,
// having given back the ports it holds (their marks are taken away).
void CatchInterrupts(const char* firstMessage);
int Interrupts();

}  // namespace cli
