#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "Catalogue.h"
#include "CommErr.h"
#include "Commands.h"
#include "Failure.h"
#include "Output.h"
#include "Platform.h"
#include "Station.h"

namespace {

// The exit codes as --help lists them, one line each.
constexpr std::pair<int, const char*> kExitCodes[] = {
    {0, cli::Later("done")},
    {1, cli::Later("doctor: something stands between this machine and a reader")},
    {2, cli::Later("usage error (bad options, nothing to confirm with)")},
    {3, cli::Later("no reader found")},
    {4, cli::Later("communication error (the reader stopped answering, or gave an error status)")},
    {5, cli::Later("verification failed (read-back or firmware version not what was written)")},
    {6, cli::Later("bad profile or image (refused before anything was sent)")},
    {7, cli::Later("port in use (another program holds the port; nothing was written)")},
    {8, cli::Later("port cannot be opened (permission denied, or its device has gone)")},
    {130, cli::Later("stopped by a second Ctrl-C")},
};

constexpr const char* kFooter = cli::Later(R"(
With --json, results are JSON (one object per line for monitor, send and
station) and a failure is an object with its exit code, kind and message.

Ports: COM n is looked up as by Zantor_Cfg: the per-user port folder
/tmp/zantor_cfg-<uid>/, then the system's serial ports. ZANTOR_PORT_FOLDER=DIR
uses DIR instead and turns the system's ports off (for emulators and tests).
--port also takes COMn and a device path (/dev/ttyUSB0, /dev/serial/by-id/...).
Results go to stdout, messages to stderr.)");

std::string Footer() {
    std::string text = std::string("\n") + cli::Tr("Exit codes:") + "\n";
    for (const auto& [code, meaning] : kExitCodes) {
        text += fmt::format("  {:<2} {}\n", code, cli::Tr(meaning));
    }
    return text + cli::Tr(kFooter);
}

// Seconds greater than 0, said in words rather than as the range of a double.
CLI::Validator Seconds() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            return !text.empty() && *end == '\0' && value > 0 && value < 1e9
                       ? std::string()
                       : cli::Tr("a number of seconds greater than 0 and below 1e9");
        },
        "S");
}

// Edits that turn one word into the other (a swap of neighbours is one).
size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

// For a word where a subcommand belongs that names none: what to say instead
// of CLI11's "A subcommand is required"; empty when the failure is another.
std::string UnknownCommand(CLI::App& app) {
    CLI::App* at = &app;
    while (!at->get_subcommands().empty()) at = at->get_subcommands().front();
    const std::vector<CLI::App*> known = at->get_subcommands({});
    std::string word;
    for (const std::string& argument : at->remaining()) {
        if (argument.empty() || argument.front() != '-') {
            word = argument;
            break;
        }
    }
    if (known.empty() || word.empty()) return "";
    std::string nearest;
    std::string names;
    size_t best = 3;  // more edits than two make another word
    for (const CLI::App* command : known) {
        const size_t distance = Distance(word, command->get_name());
        if (distance < best) {
            best = distance;
            nearest = command->get_name();
        }
        names += (names.empty() ? "" : ", ") + command->get_name();
    }
    if (at == &app) {
        return nearest.empty()
                   ? cli::Say("unknown command \"{}\"; the commands are {}", word, names)
                   : cli::Say("unknown command \"{}\"; did you mean \"{}\"?", word, nearest);
    }
    return nearest.empty() ? cli::Say("unknown {} command \"{}\"; the commands are {}",
                                      at->get_name(), word, names)
                           : cli::Say("unknown {} command \"{}\"; did you mean \"{}\"?",
                                      at->get_name(), word, nearest);
}

CLI::Validator BuzzerSlots() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return text.size() == 8 && text.find_first_not_of("01") == std::string::npos
                       ? std::string()
                       : cli::Tr("8 characters 0 or 1, the leftmost slot first");
        },
        "SLOTS");
}

}  // namespace

int main(int argc, char** argv) {
    cli::SetLanguage(language::Preferred(cli::UserLanguages()));
    cli::Output out;
    CLI::App app{cli::Tr("The command line of Zantor_Cfg: ZANTOR-40/41/50/51 card readers on "
                         "serial ports."),
                 "zantor"};
    // CLI11's own words of the help, in the run's language too.
    for (const char* label : {cli::Later("Usage"), cli::Later("OPTIONS"), cli::Later("Positionals"),
                              cli::Later("REQUIRED"), cli::Later("SUBCOMMAND"), cli::Later("Needs"),
                              cli::Later("Excludes")}) {
        app.get_formatter()->label(label, cli::Tr(label));
    }
    app.option_defaults()->group(cli::Tr("Options"));
    app.set_help_flag("-h,--help", cli::Tr("Print this help message and exit"));
    app.set_version_flag("--version", std::string("zantor ") + ZANTOR_VERSION,
                         cli::Tr("Display program version information and exit"));
    app.footer(Footer());
    app.require_subcommand(1);
    app.failure_message([](const CLI::App*, const CLI::Error& error) {
        return fmt::format("zantor: {}\n{}\n", error.what(),
                           cli::Tr("Run with --help for more information."));
    });

    std::string portText;
    const auto addPort = [&portText](CLI::App* command) {
        command
            ->add_option(
                "-p,--port", portText,
                cli::Tr("the reader's port: a COM number 1-32, COMn, or a device path such as "
                        "/dev/ttyUSB0 (default: search COM1..32)"))
            ->type_name("PORT");
    };
    bool json = false;

    CLI::App* portsCmd = app.add_subcommand(
        "ports",
        cli::Tr("Every COM number that names a device, and whether it is free; writes nothing."));
    bool probe = false;
    portsCmd->add_flag("-j,--json", json, cli::Tr("print JSON"));
    portsCmd->add_flag("--probe", probe, cli::Tr("also identify a reader on each free port"));

    CLI::App* identify = app.add_subcommand(
        "identify", cli::Tr("Type, model, serial number and firmware of the reader."));
    addPort(identify);
    identify->add_flag("-j,--json", json, cli::Tr("print JSON"));

    CLI::App* configCmd = app.add_subcommand("config", cli::Tr("Read or write the configuration."));
    configCmd->require_subcommand(1);
    CLI::App* get = configCmd->add_subcommand(
        "get", cli::Tr("The configuration in words and as its 8 bytes; --json prints a profile."));
    addPort(get);
    get->add_flag("-j,--json", json, cli::Tr("print the configuration as a profile"));
    CLI::App* set = configCmd->add_subcommand(
        "set", cli::Tr("Write a profile with its seal, read it back and compare."));
    addPort(set);
    bool dryRun = false;
    std::string profile;
    set->add_flag("--dry-run", dryRun,
                  cli::Tr("print the 17 bytes that would be sent, send nothing"));
    set->add_option("PROFILE", profile,
                    cli::Tr("profile (JSON) as printed by config get --json; - reads stdin"))
        ->required();
    set->add_flag("-j,--json", json, cli::Tr("print what was written as JSON"));

    CLI::App* upgradeCmd = app.add_subcommand(
        "upgrade", cli::Tr("Bring the reader's firmware up to date, as the window offers it."));
    addPort(upgradeCmd);
    std::string image;
    bool yes = false;
    upgradeCmd->add_option("--image", image,
                           cli::Tr("image file (default: the built-in one for the type)"));
    upgradeCmd->add_flag("-y,--yes", yes, cli::Tr("do not ask"));
    upgradeCmd->add_flag("-j,--json", json, cli::Tr("print how it ended as JSON"));

    CLI::App* monitorCmd = app.add_subcommand(
        "monitor",
        cli::Tr("What the reader sends, one timestamped line each, as the Test page shows it."));
    addPort(monitorCmd);
    double duration = 0;
    monitorCmd->add_option("--duration", duration, cli::Tr("seconds (default: until Ctrl-C)"))
        ->check(Seconds());
    monitorCmd->add_flag("-j,--json", json, cli::Tr("one JSON object per line"));

    CLI::App* send = app.add_subcommand(
        "send",
        cli::Tr("The Test page's commands: T card in field, M identification, L LEDs and buzzer."));
    addPort(send);
    std::vector<std::string> commands;
    cli::LedBuzzer l;
    send->add_option("COMMAND", commands, cli::Tr("T, M or L, one or more, sent in order"))
        ->required()
        ->check(CLI::IsMember({"T", "M", "L"}));
    send->add_option("--led", l.led, cli::Tr("L: the LEDs to light"))
        ->capture_default_str()
        ->check(CLI::IsMember({"green", "red", "both", "off"}));
    send->add_option("--time", l.time, cli::Tr("L: tenths of a second, 0 for good"))
        ->capture_default_str()
        ->check(CLI::Range(0, 255));
    send->add_option("--buzzer", l.buzzer, cli::Tr("L: eight 60 ms slots, the first leftmost"))
        ->capture_default_str()
        ->check(BuzzerSlots());
    send->add_flag("-j,--json", json, cli::Tr("one JSON object per line"));

    CLI::App* station = app.add_subcommand(
        "station",
        cli::Tr("Provision every reader that appears: upgrade, write the profile, log a row."));
    cli::StationOptions stationOptions;
    std::string ports = "1-32";
    station
        ->add_option("--profile", stationOptions.profilePath,
                     cli::Tr("profile to write; - reads stdin"))
        ->required();
    station
        ->add_option("--ports", ports,
                     cli::Tr("ports to watch: COM numbers, ranges and device paths, by commas "
                             "(3-6,9,/dev/ttyUSB0)"))
        ->type_name("LIST")
        ->capture_default_str();
    station->add_flag("--upgrade", stationOptions.upgrade,
                      cli::Tr("upgrade readers whose firmware is older than the built-in image"));
    station->add_option("--image", stationOptions.imagePath,
                        cli::Tr("upgrade with this image file instead (implies --upgrade)"));
    station->add_option("--log", stationOptions.logPath,
                        cli::Tr("CSV file, one row per reader (appended)"));
    station->add_flag("--once", stationOptions.once,
                      cli::Tr("provision the readers present now and exit (0: all succeeded)"));
    station->add_flag("-j,--json", json,
                      cli::Tr("events as JSON, one object per line, instead of the board"));

    CLI::App* doctor = app.add_subcommand(
        "doctor",
        cli::Tr(
            "What stands between this machine and a reader, each with the command that mends it."));

    // A subcommand's help flag is made before the defaults above reach it.
    const auto inOwnWords = [](CLI::App* command) {
        command->group(cli::Tr("Subcommands"));
        command->get_help_ptr()->group(cli::Tr("Options"));
    };
    for (CLI::App* command : app.get_subcommands({})) {
        inOwnWords(command);
        for (CLI::App* inner : command->get_subcommands({})) inOwnWords(inner);
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (const std::string unknown = UnknownCommand(app); !unknown.empty()) {
            out.Message(fmt::format("zantor: {}\n{}", unknown,
                                    cli::Tr("Run with --help for more information.")));
            return cli::kExitUsage;
        }
        const int code = app.exit(error);
        if (code == 0) return cli::kExitDone;
        const std::vector<std::string> args(argv + 1, argv + argc);
        if (std::find(args.begin(), args.end(), "--json") != args.end() ||
            std::find(args.begin(), args.end(), "-j") != args.end()) {
            out.SetJson(true);
            out.FailureObject(cli::kExitUsage, "usage", error.what());
        }
        return cli::kExitUsage;
    }
    out.SetJson(json);

    try {
        cli::PortSetup setup = cli::PortSetupFromEnvironment();
        if (const std::string problem = cli::PortFolderProblem(setup); !problem.empty()) {
            out.Message("zantor: " + problem);
        }
        if (*portsCmd) return cli::RunPorts(out, setup, json, probe);
        if (*doctor) return cli::RunDoctor(out, setup);
        if (*station) {
            stationOptions.ports = cli::PortsOf(ports, setup);
            return cli::RunStation(out, setup, stationOptions);
        }
        if (*send && std::find(commands.begin(), commands.end(), "L") == commands.end() &&
            (send->count("--led") + send->count("--time") + send->count("--buzzer")) > 0) {
            throw cli::Failure(cli::kExitUsage,
                               cli::Tr("--led, --time and --buzzer shape L: send L too"));
        }
        const int port = portText.empty() ? 0 : cli::PortOf(portText, setup);
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
