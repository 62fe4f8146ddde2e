// The provisioning station against paced emulators (`make bench`): eight outdated
// readers provisioned at once next to one alone, and the CPU the station takes
// while it watches empty ports. Not a test: it prints its figures.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SimProcess.h"

namespace {

constexpr int kRuns = 3;
constexpr int kReaders = 8;
constexpr int kSettleMs = 2000;
constexpr int kWatchMs = 20000;

constexpr const char* kProfile = R"({"output": "ascii", "binary_signalling": "approach",
 "ascii_format": "decimal", "number_size": "as-card", "cr_lf": true, "stx_etx": false,
 "steady_led": "red", "read_signalling": true, "read_signalling_time": 5, "buzzer": true,
 "buzzer_slots": "11000000"})";

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// User and system time of a running process, from /proc/<pid>/stat.
double ProcessCpuMs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) fields >> skip;
    double user = 0;
    double system = 0;
    fields >> user >> system;
    return (user + system) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Seconds from the start of `station --once --upgrade` to its end, with that
// many outdated readers on COM1 upwards.
double ProvisionSeconds(int readers) {
    simtest::TempPortFolder folder;
    std::vector<std::unique_ptr<simtest::SimProcess>> sims;
    for (int port = 1; port <= readers; ++port) {
        sims.push_back(std::make_unique<simtest::SimProcess>());
        if (!sims.back()->Start({"--port", std::to_string(port), "--folder", folder.Path(),
                                 "--firmware", "6", "--serial", std::to_string(100 + port),
                                 "--reply-delay", "0"}) ||
            !sims.back()->WaitReady()) {
            std::fprintf(stderr, "bench: the emulator did not start\n");
            std::exit(1);
        }
    }
    const std::string profile = folder.Entry("profile.json");
    std::ofstream(profile) << kProfile;
    simtest::ProgramRun station;
    const auto start = std::chrono::steady_clock::now();
    station.Start(ZANTOR_PATH,
                  {"station", "--profile", profile, "--ports", "1-" + std::to_string(readers),
                   "--once", "--upgrade"},
                  {"ZANTOR_PORT_FOLDER=" + folder.Path()});
    const std::optional<int> code = station.WaitExit(120000);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (code != 0) {
        std::fprintf(stderr, "bench: the station ended with %d\n%s", code.value_or(-1),
                     station.Err().c_str());
        std::exit(1);
    }
    return seconds;
}

}  // namespace

int main() {
    std::vector<double> one;
    std::vector<double> eight;
    for (int run = 0; run < kRuns; ++run) {
        one.push_back(ProvisionSeconds(1));
        eight.push_back(ProvisionSeconds(kReaders));
    }
    const double oneS = Median(one);
    const double eightS = Median(eight);
    std::printf("%-46s %7.2f s\n", "station --once --upgrade, 1 outdated reader", oneS);
    std::printf("%-46s %7.2f s   %.3f of one (at most 1.15)\n",
                "station --once --upgrade, 8 outdated readers", eightS, eightS / oneS);

    simtest::TempPortFolder empty;
    const std::string profile = empty.Entry("profile.json");
    std::ofstream(profile) << kProfile;
    simtest::ProgramRun station;
    station.Start(ZANTOR_PATH, {"station", "--profile", profile},
                  {"ZANTOR_PORT_FOLDER=" + empty.Path()});
    // Measured once the workers run, so that starting the program does not count.
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
    const double cpuBefore = ProcessCpuMs(station.Pid());
    std::this_thread::sleep_for(std::chrono::milliseconds(kWatchMs));
    const double cpuMs = ProcessCpuMs(station.Pid()) - cpuBefore;
    station.Signal(SIGINT);
    station.WaitExit(10000);
    std::printf("%-46s %7.1f ms per %d s = %.2f %% of one core (at most 0.5 %%)\n",
                "station CPU watching 32 empty ports", cpuMs, kWatchMs / 1000,
                100.0 * cpuMs / kWatchMs);
    return 0;
}
