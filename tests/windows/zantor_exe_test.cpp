// zantor.exe, the Windows build, under Wine against the reader emulator: the
// Win32 serial services on COM ports that the prefix links to the emulators'
// pseudo-terminals. The emulator's trace is the record of what crossed the line.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "SimProcess.h"
#include "WinePrefix.h"

namespace {

constexpr int kReady = 10000;
constexpr int kRunLimit = 60000;
constexpr double kSecondsPerByte = 10.0 / 19200;
constexpr double kClosingPhaseSeconds = 2.1;

winetest::WinePrefix* prefix = nullptr;

// One prefix for the whole run: making it takes half a minute or more.
class WineEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (access(ZANTOR_WINDOWS_EXE, R_OK) != 0) return;
        prefix = new winetest::WinePrefix(ZANTOR_WINE_SCRIPT);
    }
    void TearDown() override {
        delete prefix;
        prefix = nullptr;
    }
};
::testing::Environment* const wineEnvironment =
    ::testing::AddGlobalTestEnvironment(new WineEnvironment);

class ZantorExeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (prefix == nullptr) GTEST_SKIP() << ZANTOR_WINDOWS_EXE << " is not built (make windows)";
        ASSERT_EQ(prefix->Problem(), "");
    }

    void TearDown() override {
        for (int n : linked) prefix->UnlinkPort(n);
    }

    // An emulator whose pseudo-terminal is COM n of the prefix.
    simtest::SimProcess& StartReader(int n, const std::vector<std::string>& extra = {}) {
        auto& sim = readers.emplace_back(std::make_unique<simtest::SimProcess>());
        std::vector<std::string> args = {"--port",  std::to_string(n), "--folder", folder.Path(),
                                         "--trace", "--reply-delay",   "0"};
        args.insert(args.end(), extra.begin(), extra.end());
        EXPECT_TRUE(sim->Start(args));
        EXPECT_TRUE(sim->WaitReady(kReady)) << sim->Transcript();
        EXPECT_TRUE(prefix->LinkPort(n, sim->Device()));
        linked.push_back(n);
        return *sim;
    }

    static winetest::Outcome Zantor(const std::vector<std::string>& args) {
        std::vector<std::string> wineArgs{ZANTOR_WINDOWS_EXE};
        wineArgs.insert(wineArgs.end(), args.begin(), args.end());
        return prefix->Wine(wineArgs, kRunLimit);
    }

    // The profile of the reader on COM n with the read signalling time changed
    // to 42, written to profile.json; its Windows name.
    std::string ChangedProfile(int n) {
        const winetest::Outcome got =
            Zantor({"config", "get", "--port", std::to_string(n), "--json"});
        EXPECT_EQ(got.status, 0) << Describe(got);
        auto profile = nlohmann::json::parse(got.out, nullptr, false);
        profile["read_signalling_time"] = 42;
        profile.erase("record");
        std::ofstream(folder.Entry("profile.json")) << profile.dump(2);
        return "Z:" + folder.Entry("profile.json");
    }

    // The frames the emulator received, in order, once its trace has settled.
    static std::vector<simtest::TraceLine> Traced(simtest::SimProcess& sim,
                                                  const std::string& tag) {
        return sim.Traced(tag, 200);
    }

    // A file of the test folder by its Windows name (Wine's Z: is the root).
    std::string WindowsPath(const std::string& name) const { return "Z:" + folder.Entry(name); }

    static std::string Describe(const winetest::Outcome& run) {
        return "status " + (run.status ? std::to_string(*run.status) : "none (killed)") +
               "\nstdout:\n" + run.out + "\nstderr:\n" + run.err;
    }

    simtest::TempPortFolder folder;
    std::vector<std::unique_ptr<simtest::SimProcess>> readers;
    std::vector<int> linked;
};

TEST_F(ZantorExeTest, IdentifiesTheReaderOnTheFirstPortThatAnswers) {
    simtest::SimProcess& sim = StartReader(3);
    const winetest::Outcome run = Zantor({"identify", "--json"});
    ASSERT_EQ(run.status, 0) << Describe(run);
    const auto reader = nlohmann::json::parse(run.out);
    EXPECT_EQ(reader["port"], 3);
    EXPECT_EQ(reader["type"], 1064);
    EXPECT_EQ(reader["serial"], 313);
    EXPECT_EQ(reader["firmware"], 7);
    const auto rx = Traced(sim, "RX");
    ASSERT_EQ(rx.size(), 1u) << sim.Transcript();
    EXPECT_EQ(rx[0].bytes, simtest::Bytes("05 00 4D A1 F4"));
}

TEST_F(ZantorExeTest, WrittenConfigurationIsReadBack) {
    simtest::SimProcess& sim = StartReader(2);
    const winetest::Outcome set = Zantor({"config", "set", "--port", "2", ChangedProfile(2)});
    ASSERT_EQ(set.status, 0) << Describe(set);
    const winetest::Outcome back = Zantor({"config", "get", "--port", "2", "--json"});
    ASSERT_EQ(back.status, 0) << Describe(back);
    EXPECT_EQ(nlohmann::json::parse(back.out)["read_signalling_time"], 42);
    // What went over the line: the record of the 'C' request comes back in the
    // last 'c' reply.
    std::vector<uint8_t> written;
    std::vector<uint8_t> readBack;
    for (const auto& frame : Traced(sim, "RX")) {
        if (frame.bytes[2] == 'C') written = frame.bytes;
    }
    for (const auto& frame : Traced(sim, "TX")) {
        if (frame.bytes[2] == 0xE3) readBack = frame.bytes;
    }
    ASSERT_EQ(written.size(), 17u) << sim.Transcript();
    ASSERT_EQ(readBack.size(), 13u) << sim.Transcript();
    EXPECT_TRUE(std::equal(written.begin() + 3, written.begin() + 11, readBack.begin() + 3));
}

TEST_F(ZantorExeTest, UpgradeSendsEveryBlockInOrder) {
    // An image from a file: a copy of the built-in one without the stand-in
    // mark (header bytes 8 to 15).
    std::ifstream original(ZANTOR_FIRMWARE_DIR "/zantor40.bin", std::ios::binary);
    std::string image((std::istreambuf_iterator<char>(original)), std::istreambuf_iterator<char>());
    ASSERT_GT(image.size(), 16u);
    image.replace(8, 8, "UNMARKED");
    std::ofstream(folder.Entry("zantor40.bin"), std::ios::binary) << image;

    simtest::SimProcess& sim = StartReader(3, {"--firmware", "6"});
    const winetest::Outcome run =
        Zantor({"upgrade", "--port", "3", "--yes", "--image", WindowsPath("zantor40.bin")});
    ASSERT_EQ(run.status, 0) << Describe(run);
    EXPECT_NE(run.out.find("firmware 6 -> 7"), std::string::npos) << run.out;

    std::string commands;
    std::vector<int> blocks;
    const auto rx = Traced(sim, "RX");
    for (const auto& frame : rx) {
        commands += static_cast<char>(frame.bytes[2]);
        if (frame.bytes[2] == 'Y') blocks.push_back(frame.bytes[3] | frame.bytes[4] << 8);
    }
    // Identification, 'Z', the 14 blocks, 'y', 'z', and identification again.
    ASSERT_EQ(commands, "MZYYYYYYYYYYYYYYyzM") << sim.Transcript();
    EXPECT_EQ(blocks, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));

    // Recorded for the build's notes: from the 'Z' request to the identification
    // that follows the upgrade, against its floor: every byte on the line in
    // between and the 2.1 s closing phase.
    const double from = rx[1].seconds;
    const double to = rx.back().seconds;
    size_t bytes = 0;
    for (const char* tag : {"RX", "TX"}) {
        for (const auto& frame : Traced(sim, tag)) {
            if (frame.seconds > from && frame.seconds <= to) bytes += frame.bytes.size();
        }
    }
    const double floor = bytes * kSecondsPerByte + kClosingPhaseSeconds;
    RecordProperty("upgrade_ms", static_cast<int>((to - from) * 1000));
    RecordProperty("upgrade_floor_ms", static_cast<int>(floor * 1000));
    std::printf("upgrade under Wine: %.1f ms, floor %.1f ms, ratio %.3f; zantor.exe ran %.2f s\n",
                (to - from) * 1000, floor * 1000, (to - from) / floor, run.seconds);
}

TEST_F(ZantorExeTest, SilentReaderCostsItsTimeoutsAndNoMore) {
    simtest::SimProcess& sim = StartReader(3, {"--ignore-request", "1,2"});
    const winetest::Outcome run = Zantor({"identify", "--port", "3"});
    EXPECT_EQ(run.status, 3) << Describe(run);
    const auto rx = Traced(sim, "RX");
    ASSERT_EQ(rx.size(), 2u) << sim.Transcript();
    // The second attempt follows the first after the reply's read timeout, about
    // 63 ms at 19200 baud: neither at once nor after a wait without bound.
    const double gap = rx[1].seconds - rx[0].seconds;
    EXPECT_GT(gap, 0.055);
    EXPECT_LT(gap, 1.0);
}

TEST_F(ZantorExeTest, StationProvisionsTwoReaders) {
    simtest::SimProcess& first = StartReader(1);
    simtest::SimProcess& second = StartReader(2, {"--serial", "314"});
    const std::string profile = ChangedProfile(1);
    const winetest::Outcome run = Zantor({"station", "--profile", profile, "--ports", "1-2",
                                          "--once", "--log", WindowsPath("station.csv")});
    ASSERT_EQ(run.status, 0) << Describe(run);
    for (simtest::SimProcess* sim : {&first, &second}) {
        int writes = 0;
        for (const auto& frame : Traced(*sim, "RX")) writes += frame.bytes[2] == 'C';
        EXPECT_EQ(writes, 1) << sim->Transcript();
    }
    std::ifstream log(folder.Entry("station.csv"));
    std::string all((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(all.find("00313"), std::string::npos) << all;
    EXPECT_NE(all.find("00314"), std::string::npos) << all;
}

}  // namespace
