// The reader emulator's entry in the port folder: when it appears, who may
// replace it, and that it goes when the emulator ends.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "SimProcess.h"

namespace {

constexpr int kReady = 10000;

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

std::string LinkTarget(const std::string& path) {
    char target[4096];
    const ssize_t size = readlink(path.c_str(), target, sizeof target);
    return size < 0 ? std::string() : std::string(target, static_cast<size_t>(size));
}

// The emulator answers the identification request on its device.
bool Answers(const std::string& device) {
    simtest::PortClient client(device);
    return client.Write(simtest::Bytes("05 00 4D A1 F4")) &&
           client.Read(11, 2000) == simtest::Bytes("0B 00 CD 28 04 39 01 07 00 CD 88");
}

class SimLifecycleTest : public ::testing::Test {
protected:
    std::vector<std::string> Args(int port = 3) const {
        return {"--port", std::to_string(port), "--folder", folder.Path()};
    }
    void StartFirst() {
        ASSERT_TRUE(first.Start(Args()));
        ASSERT_TRUE(first.WaitReady(kReady)) << first.Transcript();
    }

    simtest::TempPortFolder folder;
    simtest::SimProcess first;
    simtest::SimProcess second;
};

TEST_F(SimLifecycleTest, LinkLeadsToTheAnnouncedDeviceWithItsLockBeside) {
    StartFirst();
    EXPECT_EQ(LinkTarget(folder.Entry("com3")), first.Device());
    std::ifstream lock(folder.Entry("com3.pid"));
    std::string pid;
    lock >> pid;
    EXPECT_FALSE(pid.empty());
    EXPECT_TRUE(Answers(folder.Entry("com3")));
}

struct EndingRow {
    const char* name;
    std::function<void(simtest::SimProcess&)> end;
};

class SimEndingTest : public SimLifecycleTest, public ::testing::WithParamInterface<EndingRow> {};

TEST_P(SimEndingTest, EndingRemovesTheLinkAndTheLock) {
    StartFirst();
    GetParam().end(first);
    EXPECT_EQ(first.WaitExit(5000), 0) << first.Transcript();
    EXPECT_FALSE(Exists(folder.Entry("com3")));
    EXPECT_FALSE(Exists(folder.Entry("com3.pid")));
}

INSTANTIATE_TEST_SUITE_P(
    Ways, SimEndingTest,
    ::testing::Values(EndingRow{"Sigterm", [](simtest::SimProcess& s) { s.Signal(SIGTERM); }},
                      EndingRow{"Sigint", [](simtest::SimProcess& s) { s.Signal(SIGINT); }},
                      EndingRow{"Sighup", [](simtest::SimProcess& s) { s.Signal(SIGHUP); }},
                      EndingRow{"EndOfInput", [](simtest::SimProcess& s) { s.CloseInput(); }},
                      EndingRow{"QuitKey", [](simtest::SimProcess& s) { s.SendLine("q"); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimLifecycleTest, SecondEmulatorOnTheSamePortRefusesToStart) {
    StartFirst();
    ASSERT_TRUE(second.Start(Args()));
    EXPECT_EQ(second.WaitExit(5000), 1);
    EXPECT_NE(second.Transcript().find("held by another running emulator"), std::string::npos)
        << second.Transcript();
    EXPECT_EQ(LinkTarget(folder.Entry("com3")), first.Device());
    EXPECT_TRUE(Answers(folder.Entry("com3")));
}

TEST_F(SimLifecycleTest, EmulatorsOnOtherPortsShareTheFolder) {
    StartFirst();
    ASSERT_TRUE(second.Start(Args(4)));
    ASSERT_TRUE(second.WaitReady(kReady)) << second.Transcript();
    EXPECT_TRUE(Answers(folder.Entry("com3")));
    EXPECT_TRUE(Answers(folder.Entry("com4")));
}

TEST_F(SimLifecycleTest, LinkOfAKilledEmulatorIsTakenOver) {
    StartFirst();
    first.Signal(SIGKILL);
    ASSERT_EQ(first.WaitExit(5000), 128 + SIGKILL);
    ASSERT_TRUE(Exists(folder.Entry("com3")));
    ASSERT_TRUE(second.Start(Args()));
    ASSERT_TRUE(second.WaitReady(kReady)) << second.Transcript();
    EXPECT_EQ(LinkTarget(folder.Entry("com3")), second.Device());
    EXPECT_TRUE(Answers(folder.Entry("com3")));
}

struct LeftoverRow {
    const char* name;
    const char* target;
};

class SimLeftoverLinkTest : public SimLifecycleTest,
                            public ::testing::WithParamInterface<LeftoverRow> {};

TEST_P(SimLeftoverLinkTest, LinkWithoutARunningOwnerIsReplaced) {
    ASSERT_EQ(symlink(GetParam().target, folder.Entry("com3").c_str()), 0);
    StartFirst();
    EXPECT_EQ(LinkTarget(folder.Entry("com3")), first.Device());
}

INSTANTIATE_TEST_SUITE_P(Leftovers, SimLeftoverLinkTest,
                         ::testing::Values(LeftoverRow{"Fence", "/dev/null"},
                                           LeftoverRow{"Dangling", "/dev/pts/99999"},
                                           LeftoverRow{"Relative", "nowhere"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimLifecycleTest, EntryThatIsNotALinkIsLeftAlone) {
    std::ofstream(folder.Entry("com3")) << "keep";
    ASSERT_TRUE(first.Start(Args()));
    EXPECT_EQ(first.WaitExit(5000), 1);
    std::ifstream kept(folder.Entry("com3"));
    std::string content;
    kept >> content;
    EXPECT_EQ(content, "keep");
    EXPECT_FALSE(Exists(folder.Entry("com3.pid")));
}

TEST_F(SimLifecycleTest, FolderOpenToOthersIsRefused) {
    ASSERT_EQ(chmod(folder.Path().c_str(), 0755), 0);
    ASSERT_TRUE(first.Start(Args()));
    EXPECT_EQ(first.WaitExit(5000), 1);
    EXPECT_FALSE(Exists(folder.Entry("com3")));
}

TEST_F(SimLifecycleTest, MissingFolderIsCreatedPrivate) {
    const std::string inner = folder.Entry("ports");
    ASSERT_TRUE(first.Start({"--port", "3", "--folder", inner}));
    ASSERT_TRUE(first.WaitReady(kReady)) << first.Transcript();
    struct stat info {};
    ASSERT_EQ(lstat(inner.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(LinkTarget(inner + "/com3"), first.Device());
}

struct UsageRow {
    const char* name;
    std::vector<std::string> args;
    int status;
};

class SimUsageTest : public ::testing::TestWithParam<UsageRow> {};

TEST_P(SimUsageTest, CommandLineIsCheckedBeforeAnythingIsTouched) {
    simtest::TempPortFolder folder;
    std::vector<std::string> args = GetParam().args;
    args.insert(args.end(), {"--folder", folder.Path()});
    simtest::SimProcess sim;
    ASSERT_TRUE(sim.Start(args));
    EXPECT_EQ(sim.WaitExit(5000), GetParam().status) << sim.Transcript();
    EXPECT_FALSE(Exists(folder.Entry("com3")));
}

INSTANTIATE_TEST_SUITE_P(
    Options, SimUsageTest,
    ::testing::Values(UsageRow{"Help", {"--help"}, 0}, UsageRow{"Version", {"--version"}, 0},
                      UsageRow{"NoPort", {}, 2}, UsageRow{"PortAbove32", {"--port", "33"}, 2},
                      UsageRow{"PortZero", {"--port", "0"}, 2},
                      UsageRow{"LeadingZeroIsNotOctal", {"--port", "033"}, 2},
                      UsageRow{"CardEveryNotANumber", {"--port", "3", "--card-every", "nan"}, 2},
                      UsageRow{
                          "ShortConfig", {"--port", "3", "--config", "01 C0 05 03 60 00 03"}, 2},
                      UsageRow{"CardTooLong", {"--port", "3", "--card", "010203040506070809"}, 2},
                      UsageRow{"StatusWithoutLetter", {"--port", "3", "--status", "1=1"}, 2},
                      UsageRow{"TypeAbove16Bits", {"--port", "3", "--type", "65536"}, 2},
                      UsageRow{"UnknownOption", {"--port", "3", "--baud", "9600"}, 2},
                      UsageRow{"ImageMissing", {"--port", "3", "--image", "/nonexistent.bin"}, 2},
                      UsageRow{"ImageOfNoLayout", {"--port", "3", "--image", "/etc/passwd"}, 2},
                      UsageRow{"ImageIsAFolder", {"--port", "3", "--image", "/"}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimHelp, DocumentsEveryFaultMode) {
    simtest::SimProcess sim;
    ASSERT_TRUE(sim.Start({"--help"}));
    ASSERT_EQ(sim.WaitExit(5000), 0);
    const std::string help = sim.Transcript();
    for (const char* option :
         {"--vanish-after", "--ignore-request", "--status", "--interleave", "--flood",
          "--reply-delay-for", "--trace", "--card-every", "--image"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

}  // namespace
