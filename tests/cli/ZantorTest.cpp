#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SimProcess.h"

// The built zantor against emulators in a private port folder, with the
// system's ports off: what it prints, its exit codes, and what crossed the line.
namespace {

using simtest::SimProcess;

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

class ZantorTest : public testing::Test {
protected:
    SimProcess& Sim(int port, const std::vector<std::string>& extra = {}) {
        auto sim = std::make_unique<SimProcess>();
        std::vector<std::string> args = {"--port", std::to_string(port), "--folder", folder.Path(),
                                         "--trace"};
        args.insert(args.end(), extra.begin(), extra.end());
        EXPECT_TRUE(sim->Start(args));
        EXPECT_TRUE(sim->WaitReady()) << sim->Transcript();
        sims.push_back(std::move(sim));
        return *sims.back();
    }

    // denied: as root, whom no mode keeps out, as nobody.
    void Start(simtest::ProgramRun& run, const std::vector<std::string>& args,
               const std::string& input = "/dev/null", const std::string& portFolder = "",
               bool denied = false) {
        std::vector<std::string> command = args;
        std::string program = ZANTOR_PATH;
        if (denied && geteuid() == 0) {
            command.insert(command.begin(),
                           {"--reuid=65534", "--regid=65534", "--clear-groups", ZANTOR_PATH});
            program = "/usr/bin/setpriv";
        }
        ASSERT_TRUE(run.Start(
            program, command,
            {"ZANTOR_PORT_FOLDER=" + (portFolder.empty() ? folder.Path() : portFolder)}, input));
    }

    Result Zantor(const std::vector<std::string>& args, const std::string& input = "/dev/null",
                  int timeoutMs = 30000, const std::string& portFolder = "", bool denied = false) {
        simtest::ProgramRun run;
        Start(run, args, input, portFolder, denied);
        Result result;
        result.code = run.WaitExit(timeoutMs).value_or(-1);
        result.out = run.Out();
        result.err = run.Err();
        return result;
    }

    std::string File(const std::string& name, const std::string& text) {
        const std::string path = folder.Entry(name);
        std::ofstream(path) << text;
        return path;
    }

    // The frames the emulator received, in hex as its trace shows them.
    static std::vector<std::string> Received(const SimProcess& sim) {
        std::vector<std::string> frames;
        std::istringstream lines(sim.Transcript());
        for (std::string line; std::getline(lines, line);) {
            const auto trace = simtest::ParseTraceLine(line);
            if (trace && trace->tag == "RX") frames.push_back(line.substr(line.find("RX") + 3));
        }
        return frames;
    }

    static bool ReceivedStarting(const SimProcess& sim, const std::string& prefix) {
        const std::vector<std::string> frames = Received(sim);
        return std::any_of(frames.begin(), frames.end(),
                           [&](const std::string& frame) { return frame.rfind(prefix, 0) == 0; });
    }

    // The CSV rows (header included) once there are count of them, or what
    // there is after 15 s.
    static std::vector<std::string> Rows(const std::string& path, size_t count) {
        std::vector<std::string> rows;
        for (int wait = 0; wait < 300; ++wait) {
            rows.clear();
            std::ifstream file(path);
            for (std::string row; std::getline(file, row);) rows.push_back(row);
            if (rows.size() >= count) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return rows;
    }

    simtest::TempPortFolder folder;
    std::vector<std::unique_ptr<SimProcess>> sims;
};

// A terminal of the test's own for the station's board: one tmux window on a
// private server, 24 rows high, whose screen is read with its colours. Each
// terminal has a server of its own: a new server on the socket of one just
// killed may take the old one's connection as it exits (about one start in
// ten when they follow each other at once).
class Terminal {
public:
    Terminal(const std::string& folder, int columns, const std::string& command)
        : socket(folder + "/tmux" + std::to_string(++started)) {
        Tmux("new-session -d -x " + std::to_string(columns) + " -y 24 '" + command +
             "; sleep 600'");
    }
    ~Terminal() { Tmux("kill-server"); }
    void Resize(int columns) { Tmux("resize-window -x " + std::to_string(columns) + " -y 24"); }

    // The screen once judge finds nothing wrong with it (or after 20 s), and
    // what judge says of it.
    std::pair<std::string, std::string> Screen(
        const std::function<std::string(const std::string&)>& judge) {
        std::string screen;
        std::string wrong;
        for (int wait = 0; wait < 200; ++wait) {
            screen = Tmux("capture-pane -p -e");
            if ((wrong = judge(screen)).empty()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return {screen, wrong};
    }

private:
    std::string Tmux(const std::string& args) {
        std::string text;
        std::FILE* pipe = popen(
            ("env -u TMUX tmux -f /dev/null -S " + socket + " " + args + " 2>&1").c_str(), "r");
        for (int c; pipe != nullptr && (c = std::fgetc(pipe)) != EOF;) text += static_cast<char>(c);
        if (pipe != nullptr) pclose(pipe);
        return text;
    }
    static inline int started = 0;
    std::string socket;
};

struct Case {
    std::vector<std::string> args;
    int code;
    std::string out;  // contained in stdout
    std::string err;  // contained in stderr
    std::string input = "/dev/null";
    bool denied = false;  // run by a user who may not open the emulators' ports
};

TEST_F(ZantorTest, CommandsPrintAndExitAsDocumented) {
    const std::string com3 = Sim(3).Device();
    Sim(4, {"--status", "C=1"});
    // Requests 1 and 2 are the first probe's and the upgrade's identifications,
    // 3 the header, 4 and 5 the first two blocks.
    Sim(5, {"--firmware", "6", "--no-pacing", "--ignore-request", "5,6,7"});
    SimProcess& held = Sim(6);
    // Answers the identifications of ports --probe and config get, then no more.
    Sim(8, {"--ignore-request", "3,4,5"});
    // Takes the profile but not the result shown on it.
    Sim(12, {"--status", "L=1"});
    const simtest::PortClient holder(held.Device());
    // The exclusive flag outlives the descriptor that set it: seen only on opening.
    const int exclusive = open(Sim(9).Device().c_str(), O_RDWR | O_NOCTTY);
    ioctl(exclusive, TIOCEXCL);
    close(exclusive);
    // A device path that no COM number leads to gets the lowest that leads nowhere.
    const std::string unlinked = Sim(10).Device();
    std::filesystem::remove(folder.Entry("com10"));
    const std::string got = Zantor({"config", "get", "--port", "3", "--json"}).out;
    const std::string profile = File("profile.json", got);
    // The most natural edit of what config get printed.
    const std::string edited =
        File("edited.json", std::regex_replace(got, std::regex("time\": 5"), "time\": 17"));
    // A port that its user may not open, named by its path alone.
    const std::string locked = Sim(11).Device();
    std::filesystem::remove(folder.Entry("com11"));
    chmod(locked.c_str(), 0);
    const std::string image50 = ZANTOR_FIRMWARE_DIR "/zantor50.bin";
    const std::vector<Case> cases = {
        {{"ports"}, 0, "COM3   /dev/pts/", ""},
        {{"ports", "--probe"}, 0, "port folder  free, ZANTOR-40 serial 00313 firmware 7", ""},
        {{"identify"}, 0, "): ZANTOR-40 (type 1064), serial 00313, firmware 7", ""},
        {{"identify", "--port", "3", "--json"}, 0, "\"serial\": 313,\n  \"firmware\": 7\n}", ""},
        {{"identify", "--port", "7"},
         3,
         "",
         "zantor: No reader connected. (no reader answers on COM7)"},
        {{"identify", "--port", "7", "--json"},
         3,
         "{\"event\":\"error\",\"exit_code\":3,\"kind\":\"no_reader\",\"message\":\"No ",
         ""},
        {{"config", "get", "--port", "3"}, 0, "record:               01 C0 05 03 60 00 03 00", ""},
        {{"config", "get", "--port", "8"}, 4, "", "did not answer the configuration read"},
        {{"config", "set", "--port", "3"}, 2, "", "PROFILE is required"},
        {{"config", "set", "--port", "3", "/tmp"},
         6,
         "",
         "cannot read the profile /tmp: Is a directory"},
        {{"config", "set", "--dry-run", "-"}, 0, "11 00 43 01 C0 05 03 60 00 03 00", "", profile},
        {{"upgrade", "--image", "none.bin"}, 6, "", "image none.bin: No such file or directory"},
        {{"upgrade", "--port", "3", "--yes", "--json"},
         0,
         "\"firmware_after\": 7,\n  \"image\": 7,\n  \"result\": \"up_to_date\"\n}",
         ""},
        {{"upgrade", "--port", "3", "--yes", "--image", File("short.bin", "ZANTOR")},
         6,
         "",
         "Upgrade file error."},
        {{"send", "--port", "3", "T", "L", "--led", "red", "--time", "0", "--buzzer", "11110000"},
         0,
         "Command: 08,00,4C,01,00,0F,",
         ""},
        {{"send", "--port", "3", "T"},
         0,
         "Received: 06,00,D4,00,5F,AC  = no card in the field",
         ""},
        {{"send", "-p", "3", "M"}, 0, "  = ZANTOR-40 (type 1064), serial 00313, firmware 7\n", ""},
        {{"send", "-p", "3", "L"}, 0, ",55,AC  = LEDs and buzzer: done, status 0\n", ""},
        {{"send", "-p", "3", "T", "--time", "3"},
         2,
         "",
         "zantor: --led, --time and --buzzer shape L"},
        {{"identify", "-p", "com3"}, 0, "COM3 (" + com3 + "): ZANTOR-40", ""},
        {{"identify", "--port", com3, "-j"}, 0, "\"port\": 3,", ""},
        {{"identify", "--port", unlinked}, 0, unlinked + ": ZANTOR-40", ""},
        {{"identify", "-p", "/dev/null"}, 2, "", "zantor: /dev/null: not a serial port"},
        {{"identify", "-p", "COM33"}, 2, "", "zantor: --port: COM33 is neither a COM number"},
        {{"doctor"}, 1, "is held by cli_tests (pid ", ""},
        {{"idenitfy"}, 2, "", "zantor: unknown command \"idenitfy\"; did you mean \"identify\"?"},
        {{"config", "gte"}, 2, "", "did you mean \"get\"?"},
        {{"monitor", "--duration", "0"},
         2,
         "",
         "zantor: --duration: a number of seconds greater than 0 and below 1e9\n"},
        {{"--version"}, 0, "zantor 0.1.0\n", ""},
        {{"send", "--port", "3", "X"}, 2, "", "COMMAND"},
        {{"station", "--profile", "none.json", "--ports", "9-3"}, 2, "", "--ports"},
        {{"station", "--profile", profile, "--ports", "4,3," + com3, "--once"},
         4,
         "watching COM4,COM3,",
         "2 readers, 1 failed"},
        {{"station", "--profile", profile, "--ports", "12", "--once"},
         4,
         "FAILED: Communication error. (the reader refused the LED and buzzer command ('L')",
         ""},
        {{"station", "--profile", profile, "--ports", "6", "--once"},
         3,
         "COM6 in use by cli_tests (pid ",
         "(no reader on COM6)"},
        {{"send", "--port", "3", "T", "--json"},
         0,
         "\"direction\":\"received\",\"bytes\":\"06 00 D4 00 5F AC\",\"lines\":[\"Odebrane: ",
         ""},
        {{"send", "--port", "3", "X", "--json"},
         2,
         "\"exit_code\":2,\"kind\":\"usage\"",
         "COMMAND"},
        {{"station", "--profile", profile, "--ports", "3", "--once", "--image", image50},
         6,
         "FAILED: the image is for reader type 2098, the reader is of type 1064",
         ""},
        {{"station", "--profile", profile, "--log", File("old.csv", "time,port,type\r\n")},
         2,
         "",
         "old.csv has other columns (time,port,type); give a new file with --log"},
        {{"station", "--profile", profile, "--log", "/dev/full"},
         2,
         "",
         "cannot write the log /dev/full: No space left on device"},
        {{"config", "set", "--port", "4", profile},
         4,
         "",
         "zantor: Communication error. (the reader refused the configuration write ('C') with "
         "status 1)"},
        {{"config", "set", "--port", "4", profile, "--json"}, 4, "\"kind\":\"refused\"", ""},
        {{"upgrade", "--port", "5", "--yes"},
         4,
         "",
         "did not answer the upgrade block ('Y') after 3 attempts, at block 2 of 14)"},
        {{"identify", "--port", "6"}, 7, "", " is in use by cli_tests (pid "},
        {{"identify", "--port", locked},
         8,
         "",
         "zantor: " + locked +
             " cannot be opened: "
             "permission denied; it is ",
         "/dev/null",
         true},
        {{"identify", "--port", locked, "--json"},
         8,
         "\"kind\":\"no_access\"",
         "",
         "/dev/null",
         true},
        {{"station", "--profile", "-", "--ports", locked, "--once", "--json"},
         3,
         "\"event\":\"no_access\",\"port\":1,\"device\":\"" + locked,
         "",
         profile,
         true},
        {{"config", "set", "--port", "3", edited}, 0, "COM3: wrote and read back 01 C0 11", ""},
        // After the rows that count the requests to COM5.
        {{"ports", "--probe"}, 0, "port folder  held (exclusive)", ""},
    };
    for (const Case& c : cases) {
        const Result result = Zantor(c.args, c.input, 30000, "", c.denied);
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        EXPECT_EQ(result.code, c.code) << result.err;
        EXPECT_NE(result.out.find(c.out), std::string::npos) << result.out;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    }
    EXPECT_TRUE(Received(held).empty());
    const std::string loose = folder.Entry("loose");
    mkdir(loose.c_str(), 0700);
    chmod(loose.c_str(), 0755);
    const std::string none = Zantor({"ports"}, "/dev/null", 30000, loose).err;
    EXPECT_NE(none.find("zantor: ZANTOR_PORT_FOLDER=" + loose + " is not used: its mode is 0755"),
              std::string::npos);
    EXPECT_NE(none.find("zantor: no serial ports: looked in the port folder " + loose),
              std::string::npos);

    // A card shown while the monitor runs, as the Test page would log it.
    simtest::ProgramRun monitor;
    Start(monitor, {"monitor", "--port", "3", "--duration", "1.5", "--json"});
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    sims.front()->SendLine("c");
    EXPECT_EQ(monitor.WaitExit(10000), 0);
    EXPECT_NE(monitor.Out().find("\"lines\":[\"0004886718345<CR><LF>\"]}\n"), std::string::npos)
        << monitor.Out();
}

TEST_F(ZantorTest, UpgradeBringsAnOutdatedReaderUpToDate) {
    SimProcess& sim = Sim(3, {"--firmware", "6", "--no-pacing"});
    const Result result = Zantor({"upgrade", "--port", "3", "--yes"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_NE(result.out.find("ZANTOR-40 serial 00313: firmware 6 -> 7"), std::string::npos);
    // Off a terminal the progress is a few plain messages, not a redrawn line.
    EXPECT_EQ(result.out.find('\r'), std::string::npos);
    EXPECT_TRUE(ReceivedStarting(sim, "05 00 7A"));  // 'z' closes the transfer
}

// Stopped at once mid-upgrade, zantor still takes its marks away: the
// pseudo-terminal's exclusive flag and the lock file would outlive it.
TEST_F(ZantorTest, SecondCtrlCGivesThePortBack) {
    std::string lockFile = "/run/lock/LCK.." + Sim(3, {"--firmware", "6"}).Device().substr(5);
    std::replace(lockFile.begin() + 10, lockFile.end(), '/', '_');
    simtest::ProgramRun upgrade;
    Start(upgrade, {"upgrade", "-p", "3", "-y"});
    for (int wait = 0; wait < 300 && upgrade.Err().find("sending") == std::string::npos; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    upgrade.Signal(SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    upgrade.Signal(SIGINT);
    EXPECT_EQ(upgrade.WaitExit(10000), 130) << upgrade.Err();
    EXPECT_FALSE(std::filesystem::exists(lockFile));
    const Result after = Zantor({"identify", "-p", "3"});
    EXPECT_EQ(after.code, 0) << after.err;
}

// One language per run, from the environment as the window reads it, with no
// Polish locale generated; with --json only the message follows it.
TEST_F(ZantorTest, FailingWriteSpeaksTheUsersLanguage) {
    Sim(4, {"--status", "C=1"});
    const std::string profile = File("p.json", Zantor({"config", "get", "-p", "4", "-j"}).out);
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"LANGUAGE=pl_PL.UTF-8"},
         "Błąd komunikacji. (czytnik odrzucił rozkaz 'C' (zapis konfiguracji) ze statusem 1)"},
        {{"LANGUAGE=de:pl", "LANG=en_US.UTF-8"}, "Błąd komunikacji. (czytnik odrzucił"},
        {{"LC_ALL=C", "LANG=pl_PL.UTF-8"}, "Communication error. (the reader refused"}};
    for (const auto& [environment, said] : rows) {
        for (const std::string json : {"", "--json"}) {
            std::vector<std::string> all = environment;
            // What the row leaves out is unset: the first of a name counts.
            all.insert(all.end(), {"LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "LANG=",
                                   "ZANTOR_PORT_FOLDER=" + folder.Path()});
            std::vector<std::string> args = {"config", "set", "-p", "4", profile};
            if (!json.empty()) args.push_back(json);
            simtest::ProgramRun run;
            ASSERT_TRUE(run.Start(ZANTOR_PATH, args, all));
            EXPECT_EQ(run.WaitExit(30000), 4);
            const std::string text = json.empty() ? run.Err() : run.Out();
            const std::string lead =
                json.empty() ? "zantor: " : "\"kind\":\"refused\",\"message\":\"";
            EXPECT_NE(text.find(lead + said), std::string::npos) << text;
        }
    }
}

TEST_F(ZantorTest, ProfileMovesFromOneReaderToAnother) {
    Sim(3, {"--config", "80 C0 FF 81 00 00 03 00"});
    SimProcess& target = Sim(5);
    const Result read = Zantor({"config", "get", "--port", "3", "--json"});
    ASSERT_EQ(read.code, 0) << read.err;
    const std::string profile = File("moved.json", read.out);

    const Result dry = Zantor({"config", "set", "--dry-run", profile});
    EXPECT_EQ(dry.out.size(), 17u * 3);  // 17 bytes in hex, spaced, and a line end
    const Result written = Zantor({"config", "set", "--port", "5", profile});
    EXPECT_EQ(written.code, 0) << written.err;
    EXPECT_TRUE(ReceivedStarting(target, "11 00 43 80 C0 FF 81 00 00 03 00"));
    EXPECT_EQ(Zantor({"config", "get", "--port", "5", "--json"}).out, read.out);
}

TEST_F(ZantorTest, BadProfilesAreRefusedWithNothingOnTheWire) {
    SimProcess& sim = Sim(3);
    const std::string good = Zantor({"config", "get", "--port", "3", "--json"}).out;
    const size_t before = Received(sim).size();
    const std::vector<std::pair<std::string, const char*>> profiles = {
        {"output: ascii", "not a JSON document"},
        {"{\"output\": \"ascii\", \"volume\": 3}", "unknown field \"volume\""},
        {good.substr(0, good.rfind('}')) + ", \"record\": \"00\"}",
         "\"record\": \"00\" is not allowed"},
    };
    for (const auto& [text, message] : profiles) {
        const Result result = Zantor({"config", "set", "--port", "3", File("bad.json", text)});
        EXPECT_EQ(result.code, 6);
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    }
    EXPECT_EQ(Received(sim).size(), before);
}

TEST_F(ZantorTest, StationProvisionsFourReadersAtOnce) {
    SimProcess& current = Sim(1);
    SimProcess& outdated = Sim(2, {"--firmware", "6", "--serial", "77", "--no-pacing"});
    // Answers the identification and the write, then is gone before the read-back.
    SimProcess& vanishing = Sim(3, {"--serial", "99", "--vanish-after", "2"});
    SimProcess& other = Sim(4, {"--type", "2098", "--serial", "453", "--firmware", "8"});
    // Takes no upgrade but says it did: still firmware 6 afterwards. Its failure
    // comes after the closing phase of an upgrade, long after the vanishing one's.
    SimProcess& stuck = Sim(5, {"--firmware", "6", "--serial", "55", "--no-pacing", "--image",
                                File("other.bin", std::string(2096, '\0')), "--status", "Z=0",
                                "--status", "Y=0", "--status", "y=0", "--status", "z=0"});
    const std::string profile =
        File("profile.json", Zantor({"config", "get", "--port", "1", "--json"}).out);
    const std::string log = folder.Entry("log.csv");
    const Result result = Zantor({"station", "--profile", profile, "--ports", "1-6", "--upgrade",
                                  "--once", "--log", log, "--json"});
    EXPECT_EQ(result.code, 4) << result.err;
    EXPECT_NE(result.err.find("5 readers, 2 failed"), std::string::npos) << result.err;
    EXPECT_NE(result.out.find("\"result\":\"failed\",\"exit_code\":4,\"kind\":\"short_write\""),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("\"event\":\"stopped\",\"readers\":5,\"failed\":2}"),
              std::string::npos);

    std::vector<std::string> rows = Rows(log, 6);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0],
              "time,port,device,model,type_code,serial,firmware_before,firmware_after,record,"
              "result,error\r");
    std::sort(rows.begin() + 1, rows.end(), [](const std::string& a, const std::string& b) {
        return a.substr(a.find(",COM")) < b.substr(b.find(",COM"));
    });
    const std::vector<std::string> expected = {
        ",ZANTOR-40,1064,00313,7,7,01 C0 05 03 60 00 03 00,ok,\r",
        ",ZANTOR-40,1064,00077,6,7,01 C0 05 03 60 00 03 00,ok,\r",
        ",ZANTOR-40,1064,00099,7,7,01 C0 05 03 60 00 03 00,failed,Communication error. (the "
        "configuration read ('c') could not be written whole; the port was closed)\r",
        ",ZANTOR-50,2098,00453,8,8,01 C0 05 03 60 00 03 00,ok,\r",
        ",ZANTOR-40,1064,00055,6,6,01 C0 05 03 60 00 03 00,failed,\"after the upgrade the reader "
        "reports firmware 6, not 7\"\r"};
    for (size_t i = 0; i < expected.size(); ++i) {
        const std::string& row = rows[i + 1];
        EXPECT_EQ(row.substr(19, 6), "Z,COM" + std::to_string(i + 1)) << row;
        ASSERT_GE(row.size(), expected[i].size());
        EXPECT_EQ(row.substr(row.size() - expected[i].size()), expected[i]) << row;
    }
    EXPECT_TRUE(ReceivedStarting(outdated, "05 00 7A"));
    // Each reader shows its result: green and a short beep, red and a long one.
    for (SimProcess* sim : {&current, &outdated, &other}) {
        EXPECT_TRUE(ReceivedStarting(*sim, "08 00 4C 02 00 03")) << sim->Transcript();
    }
    EXPECT_FALSE(ReceivedStarting(vanishing, "08 00 4C"));
    EXPECT_TRUE(ReceivedStarting(stuck, "08 00 4C 01 00 FF")) << stuck.Transcript();
}

TEST_F(ZantorTest, StationTakesTheNextReaderOnlyOnceTheLastHasGone) {
    // Silent for two checks after its provisioning (frames 1-2 are config get's,
    // 3-6 the station's): not yet gone.
    Sim(3, {"--serial", "1", "--ignore-request", "7,8,9,10"});
    const std::string profile =
        File("profile.json", Zantor({"config", "get", "--port", "3", "--json"}).out);
    const std::string log = folder.Entry("log.csv");
    simtest::ProgramRun station;
    Start(station, {"station", "--profile", profile, "--ports", "3", "--log", log});
    ASSERT_EQ(Rows(log, 2).size(), 2u);
    // The same reader left in the jig is not provisioned again.
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    EXPECT_EQ(Rows(log, 0).size(), 2u);
    sims.back()->Stop();
    Sim(3, {"--serial", "2"});
    const std::vector<std::string> rows = Rows(log, 3);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_NE(rows[2].find(",00002,"), std::string::npos) << rows[2];

    station.Signal(SIGINT);
    EXPECT_EQ(station.WaitExit(10000), 0);
    EXPECT_NE(station.Err().find("stopping"), std::string::npos) << station.Err();
    EXPECT_NE(station.Out().find("COM3 reader removed"), std::string::npos) << station.Out();
}

TEST_F(ZantorTest, StationBoardKeepsResultsAndFitsTheTerminal) {
    Sim(3);
    Sim(12, {"--status", "C=1"});
    const std::string profile =
        File("profile.json", Zantor({"config", "get", "--port", "3", "--json"}).out);
    const std::string station = "env ZANTOR_PORT_FOLDER=" + folder.Path() + " " + ZANTOR_PATH +
                                " station --ports 3-12 --profile " + profile;
    // One header with the counts whole, every line within the width, each
    // port's result kept, and OK and FAILED in colour or not.
    const auto judge = [](int columns, bool colour, const char* activity) {
        return [=](const std::string& screen) -> std::string {
            const std::string plain = std::regex_replace(screen, std::regex("\033\\[[0-9;]*m"), "");
            std::istringstream lines(plain);
            int headers = 0;
            for (std::string line; std::getline(lines, line);) {
                headers += line.find("readers 2  failed 1") != std::string::npos;
                const auto width = std::count_if(line.begin(), line.end(),
                                                 [](char c) { return (c & 0xC0) != 0x80; });
                if (width >= columns) return "too wide: " + line;
            }
            for (const std::string& part :
                 {std::string("COM3 +") + activity + " +ZANTOR-40 00313  OK",
                  std::string("COM12 +") + activity + " +ZANTOR-40 00313  FAILED"}) {
                if (!std::regex_search(plain, std::regex(part))) return "no " + part;
            }
            if (headers != 1) return std::to_string(headers) + " headers";
            const bool coloured = screen.find("\033[32mOK") != std::string::npos &&
                                  screen.find("\033[31mFAILED") != std::string::npos;
            return coloured == colour ? "" : "colour is not as asked";
        };
    };
    {
        Terminal once(folder.Path(), 40, "env -u NO_COLOR " + station + " --once");
        const auto [screen, wrong] = once.Screen(judge(40, true, "stopped"));
        EXPECT_EQ(wrong, "") << screen;
    }
    Terminal running(folder.Path(), 120, "NO_COLOR=1 " + station);
    for (const int columns : {120, 80, 40}) {
        running.Resize(columns);
        const auto [screen, wrong] = running.Screen(judge(columns, false, "remove"));
        EXPECT_EQ(wrong, "") << columns << " columns:\n" << screen;
    }
}

}  // namespace
