#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

#include "CommErr.h"
#include "Commands.h"
#include "Failure.h"
#include "Output.h"
#include "Platform.h"
#include "Protocol.h"
#include "Station.h"

namespace {

constexpr const char* kFooter = R"(
Exit codes:
  0  done
  2  usage error (bad options, nothing to confirm with)
  3  no reader found
  4  communication error (the reader stopped answering, or gave an error status)
  5  verification failed (read-back or firmware version not what was written)
  6  bad profile or image (refused before anything was sent)
  7  port in use (another program holds the port; nothing was written)
  130 stopped by a second Ctrl-C

With --json, results are JSON (one object per line for monitor, send and
station) and a failure is an object with its exit code, kind and message.

Ports: COM n is looked up as by Zantor_Cfg: the per-user port folder
/tmp/zantor_cfg-<uid>/, then the system's serial ports. ZANTOR_PORT_FOLDER=DIR
uses DIR instead and turns the system's ports off (for emulators and tests).
Results go to stdout, messages to stderr.)";

// "3-8" or "5": a range of COM numbers.
CLI::Validator PortRange() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const auto dash = text.find('-');
            const auto number = [](const std::string& part, int& value) {
                const auto [end, error] =
                    std::from_chars(part.data(), part.data() + part.size(), value);
                return error == std::errc() && end == part.data() + part.size() &&
                       value >= protocol::kFirstPort && value <= protocol::kLastPort;
            };
            int a = 0;
            int b = 0;
            const bool ok =
                dash == std::string::npos
                    ? number(text, a) && number(text, b)
                    : number(text.substr(0, dash), a) && number(text.substr(dash + 1), b) && a <= b;
            return ok ? std::string() : "a range of COM numbers within 1-32, e.g. 1-8";
        },
        "A-B");
}

CLI::Validator BuzzerSlots() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return text.size() == 8 && text.find_first_not_of("01") == std::string::npos
                       ? std::string()
                       : "8 characters 0 or 1, the leftmost slot first";
        },
        "SLOTS");
}

void SplitRange(const std::string& text, int& first, int& last) {
    const auto dash = text.find('-');
    first = std::stoi(text.substr(0, dash));
    last = dash == std::string::npos ? first : std::stoi(text.substr(dash + 1));
}

}  // namespace

int main(int argc, char** argv) {
    cli::Output out;
    CLI::App app{"The command line of Zantor_Cfg: ZANTOR-40/41/50/51 card readers on serial ports.",
                 "zantor"};
    app.set_version_flag("--version", ZANTOR_VERSION);
    app.footer(kFooter);
    app.require_subcommand(1);

    int port = 0;
    const auto addPort = [&port](CLI::App* command) {
        command->add_option("--port", port, "COM number of the reader (default: search COM1..32)")
            ->check(CLI::Range(protocol::kFirstPort, protocol::kLastPort));
    };
    bool json = false;

    CLI::App* portsCmd = app.add_subcommand(
        "ports", "Every COM number that names a device, and whether it is free; writes nothing.");
    bool probe = false;
    portsCmd->add_flag("--json", json, "print JSON");
    portsCmd->add_flag("--probe", probe, "also identify a reader on each free port");

    CLI::App* identify =
        app.add_subcommand("identify", "Type, model, serial number and firmware of the reader.");
    addPort(identify);
    identify->add_flag("--json", json, "print JSON");

    CLI::App* configCmd = app.add_subcommand("config", "Read or write the configuration.");
    configCmd->require_subcommand(1);
    CLI::App* get = configCmd->add_subcommand(
        "get", "The configuration in words and as its 8 bytes; --json prints a profile.");
    addPort(get);
    get->add_flag("--json", json, "print the configuration as a profile");
    CLI::App* set = configCmd->add_subcommand(
        "set", "Write a profile with its seal, read it back and compare.");
    addPort(set);
    bool dryRun = false;
    std::string profile;
    set->add_flag("--dry-run", dryRun, "print the 17 bytes that would be sent, send nothing");
    set->add_option("PROFILE", profile,
                    "profile (JSON) as printed by config get --json; - reads stdin")
        ->required();
    set->add_flag("--json", json, "print what was written as JSON");

    CLI::App* upgradeCmd = app.add_subcommand(
        "upgrade", "Bring the reader's firmware up to date, as the window offers it.");
    addPort(upgradeCmd);
    std::string image;
    bool yes = false;
    upgradeCmd->add_option("--image", image, "image file (default: the built-in one for the type)");
    upgradeCmd->add_flag("--yes", yes, "do not ask");
    upgradeCmd->add_flag("--json", json, "print how it ended as JSON");

    CLI::App* monitorCmd = app.add_subcommand(
        "monitor", "What the reader sends, one timestamped line each, as the Test page shows it.");
    addPort(monitorCmd);
    double duration = 0;
    monitorCmd->add_option("--duration", duration, "seconds (default: until Ctrl-C)")
        ->check(CLI::PositiveNumber);
    monitorCmd->add_flag("--json", json, "one JSON object per line");

    CLI::App* send = app.add_subcommand(
        "send", "The Test page's commands: T card in field, M identification, L LEDs and buzzer.");
    addPort(send);
    std::vector<std::string> commands;
    cli::LedBuzzer l;
    send->add_option("COMMAND", commands, "T, M or L, one or more, sent in order")
        ->required()
        ->check(CLI::IsMember({"T", "M", "L"}));
    send->add_option("--led", l.led, "L: the LEDs to light")
        ->capture_default_str()
        ->check(CLI::IsMember({"green", "red", "both", "off"}));
    send->add_option("--time", l.time, "L: tenths of a second, 0 for good")
        ->capture_default_str()
        ->check(CLI::Range(0, 255));
    send->add_option("--buzzer", l.buzzer, "L: eight 60 ms slots, the first leftmost")
        ->capture_default_str()
        ->check(BuzzerSlots());
    send->add_flag("--json", json, "one JSON object per line");

    CLI::App* station = app.add_subcommand(
        "station", "Provision every reader that appears: upgrade, write the profile, log a row.");
    cli::StationOptions stationOptions;
    std::string ports = "1-32";
    station->add_option("--profile", stationOptions.profilePath, "profile to write; - reads stdin")
        ->required();
    station->add_option("--ports", ports, "COM numbers to watch")
        ->capture_default_str()
        ->check(PortRange());
    station->add_flag("--upgrade", stationOptions.upgrade,
                      "upgrade readers whose firmware is older than the built-in image");
    station->add_option("--image", stationOptions.imagePath,
                        "upgrade with this image file instead (implies --upgrade)");
    station->add_option("--log", stationOptions.logPath, "CSV file, one row per reader (appended)");
    station->add_flag("--once", stationOptions.once,
                      "provision the readers present now and exit (0: all succeeded)");
    station->add_flag("--json", json, "events as JSON, one object per line, instead of the board");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        if (code == 0) return cli::kExitDone;
        const std::vector<std::string> args(argv + 1, argv + argc);
        if (std::find(args.begin(), args.end(), "--json") != args.end()) {
            out.SetJson(true);
            out.FailureObject(cli::kExitUsage, "usage", error.what());
        }
        return cli::kExitUsage;
    }
    out.SetJson(json);

    try {
        const cli::PortSetup setup = cli::PortSetupFromEnvironment();
        if (*portsCmd) return cli::RunPorts(out, setup, json, probe);
        if (*station) {
            SplitRange(ports, stationOptions.first, stationOptions.last);
            return cli::RunStation(out, setup, stationOptions);
        }
        cli::Context context(out, setup);
        if (*identify) return cli::RunIdentify(context, port, json);
        if (*get) return cli::RunConfigGet(context, port, json);
        if (*set) return cli::RunConfigSet(context, port, dryRun, profile);
        if (*upgradeCmd) return cli::RunUpgrade(context, port, image, yes);
        if (*monitorCmd) return cli::RunMonitor(context, port, duration);
        return cli::RunSend(context, port, commands, l);
    } catch (const cli::Failure& failure) {
        out.Fail(failure.code, failure.kind, failure.what());
        return failure.code;
    } catch (const CommErr& error) {
        out.Fail(cli::ExitCodeOf(error), cli::KindOf(error), cli::MessageOf(error));
        return cli::ExitCodeOf(error);
    }
}
