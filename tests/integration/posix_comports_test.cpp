#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <functional>

#include "ComPorts.h"
#include "ComPortsInternal.h"
#include "posix_test_support.h"

using posix_test::Pty;
using posix_test::TempFolder;

namespace {

using Resolved = std::optional<std::string>;

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text << "\n";
}

// A stand-in for /sys/class/tty: plain folders with the attribute files that
// resolution reads. The devices it names do not exist and are never opened.
class FakeTtyClass {
public:
    FakeTtyClass() {
        AddUart("ttyS0", 4);  // the console's port
        AddUart("ttyS1", 0);  // no UART behind it
        AddUart("ttyS10", 4);
        AddUart("ttyS2", 4);
        Add("ttyS3");  // no type attribute: nothing is known about it
        AddUart("ttySAC0", 4);
        Add("ttyUSB1");
        Add("ttyUSB0");
        Add("ttyACM0");
        Add("tty0");
        Add("tty5");
        Add("ttyprintk");
        Add("console");
        WriteFile(root.path + "/console/active", "tty0 ttyS0");
    }

    void Add(const std::string& name) const {
        std::filesystem::create_directory(root.path + "/" + name);
    }
    void AddUart(const std::string& name, int type) const {
        Add(name);
        WriteFile(root.path + "/" + name + "/type", std::to_string(type));
    }
    void SetDeviceNumber(const std::string& name, dev_t number) const {
        WriteFile(root.path + "/" + name + "/dev",
                  std::to_string(major(number)) + ":" + std::to_string(minor(number)));
    }

    const std::string& Path() const { return root.path; }

private:
    TempFolder root{"zantor_fake_sysfs"};
};

TEST(SystemSerialPorts, RealUartsThenUsbThenAcmInNaturalOrderWithoutTheConsole) {
    FakeTtyClass ttyClass;
    EXPECT_EQ(comports::SystemSerialPorts(ttyClass.Path()),
              (std::vector<std::string>{"/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0", "/dev/ttyUSB1",
                                        "/dev/ttyACM0"}));
}

// A pseudo-terminal is a stand-in line; a USB (188) or ACM (166) adapter and a
// UART (4) are not. The virtual terminals are the first 64 minors of major 4.
TEST(DeviceNumbers, StandInLinesAndVirtualTerminals) {
    for (const unsigned deviceMajor : {4u, 166u, 188u}) {
        EXPECT_FALSE(comports::IsPseudoTerminalMajor(deviceMajor)) << deviceMajor;
    }
    EXPECT_TRUE(comports::IsPseudoTerminalMajor(136));
    EXPECT_TRUE(comports::IsPseudoTerminalMajor(143));
    EXPECT_TRUE(comports::IsVirtualTerminal(4, 1));
    EXPECT_FALSE(comports::IsVirtualTerminal(4, 64));
}

struct FolderRow {
    const char* name;
    std::function<std::string(const TempFolder&)> make;  // returns the folder to use
    bool trusted;
    const char* why = "";  // said of a folder that is not
};

class FolderTrustTest : public ::testing::TestWithParam<FolderRow> {};

TEST_P(FolderTrustTest, OnlyAPrivateRealDirectoryOfTheUserIsHonoured) {
    TempFolder base;
    ASSERT_FALSE(base.path.empty());
    std::string folder = GetParam().make(base);
    EXPECT_EQ(comports::IsTrustedFolder(folder), GetParam().trusted);
    EXPECT_EQ(comports::WhyNotTrusted(folder).find(GetParam().why), 0u)
        << comports::WhyNotTrusted(folder);
}

std::string SubfolderWithMode(const TempFolder& base, mode_t mode) {
    std::string folder = base.path + "/ports";
    mkdir(folder.c_str(), 0700);
    chmod(folder.c_str(), mode);
    return folder;
}

INSTANTIATE_TEST_SUITE_P(
    Folders, FolderTrustTest,
    ::testing::Values(
        FolderRow{"Private", [](const TempFolder& b) { return SubfolderWithMode(b, 0700); }, true},
        FolderRow{"PrivateWithTrailingSlash",
                  [](const TempFolder& b) { return SubfolderWithMode(b, 0700) + "/"; }, true},
        FolderRow{"GroupWritable", [](const TempFolder& b) { return SubfolderWithMode(b, 0770); },
                  false, "its mode is 0770, which lets others in"},
        FolderRow{"GroupReadable", [](const TempFolder& b) { return SubfolderWithMode(b, 0740); },
                  false},
        FolderRow{"OthersMayEnter", [](const TempFolder& b) { return SubfolderWithMode(b, 0701); },
                  false},
        FolderRow{"LinkToAPrivateFolder",
                  [](const TempFolder& b) {
                      std::string link = b.path + "/link";
                      symlink(SubfolderWithMode(b, 0700).c_str(), link.c_str());
                      return link;
                  },
                  false, "it is a symbolic link"},
        FolderRow{"LinkToAPrivateFolderWithTrailingSlash",
                  [](const TempFolder& b) {
                      std::string link = b.path + "/link";
                      symlink(SubfolderWithMode(b, 0700).c_str(), link.c_str());
                      return link + "/";
                  },
                  false},
        FolderRow{"RegularFile",
                  [](const TempFolder& b) {
                      WriteFile(b.path + "/file", "");
                      chmod((b.path + "/file").c_str(), 0600);
                      return b.path + "/file";
                  },
                  false, "it is not a directory"},
        FolderRow{"Missing", [](const TempFolder& b) { return b.path + "/missing"; }, false,
                  "it does not exist"}),
    [](const auto& info) { return std::string(info.param.name); });

// A path given by the user gets the checks of a folder's entry, and its
// /dev/serial/by-id name leads back to it.
TEST(DevicePath, LeadsToATerminalThatIsNotTheConsole) {
    TempFolder byId;
    Pty pty;
    FakeTtyClass ttyClass;
    ASSERT_TRUE(pty.Ok());
    const std::string name = byId.path + "/usb-1a86_USB_Serial-if00-port0";
    ASSERT_EQ(symlink(pty.slavePath.c_str(), name.c_str()), 0);
    EXPECT_EQ(comports::CheckDevicePath(name, ttyClass.Path()).device, pty.slavePath);
    EXPECT_EQ(comports::ByIdName(pty.slavePath, byId.path), name);
    EXPECT_EQ(comports::ByIdName("/dev/ttyUSB7", byId.path), "");
    EXPECT_EQ(comports::CheckDevicePath("/dev/null", ttyClass.Path()).refusal, "not a serial port");
    EXPECT_EQ(comports::CheckDevicePath(byId.path + "/gone", ttyClass.Path()).device, "");
    struct stat slaveStat {};
    stat(pty.slavePath.c_str(), &slaveStat);
    ttyClass.SetDeviceNumber("ttyS0", slaveStat.st_rdev);  // the console's port
    EXPECT_EQ(comports::CheckDevicePath(name, ttyClass.Path()).refusal,
              "the system console or a virtual terminal, never a reader's line");
}

TEST(PortFolder, UntrustedFolderIsIgnoredEvenWithAGoodLink) {
    TempFolder folder;
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    ASSERT_TRUE(folder.Link(1, pty.slavePath));
    EXPECT_EQ(comports::ResolvePort(1, folder.path, false), Resolved(pty.slavePath));

    chmod(folder.path.c_str(), 0770);
    EXPECT_EQ(comports::ResolvePort(1, folder.path, false), std::nullopt);
}

struct EntryRow {
    const char* name;
    // Makes the entry com1 in the folder, given a live pseudo-terminal.
    std::function<void(const TempFolder&, const Pty&, const FakeTtyClass&)> make;
};

class UnusableEntryTest : public ::testing::TestWithParam<EntryRow> {};

// The number stays the folder's: it has no device, and the system ports go on
// with the next number.
TEST_P(UnusableEntryTest, NumberHasNoDeviceAndFencesOffTheSystemPort) {
    TempFolder folder;
    Pty pty;
    FakeTtyClass ttyClass;
    ASSERT_TRUE(pty.Ok());
    GetParam().make(folder, pty, ttyClass);
    EXPECT_EQ(comports::ResolvePort(1, folder.path, true, ttyClass.Path()), std::nullopt);
    EXPECT_EQ(comports::ResolvePort(2, folder.path, true, ttyClass.Path()), Resolved("/dev/ttyS2"));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, UnusableEntryTest,
    ::testing::Values(
        EntryRow{"DanglingLink", [](const TempFolder& f, const Pty&,
                                    const FakeTtyClass&) { f.Link(1, f.path + "/gone"); }},
        EntryRow{"LinkToARegularFile",
                 [](const TempFolder& f, const Pty&, const FakeTtyClass&) {
                     WriteFile(f.path + "/plain", "");
                     f.Link(1, f.path + "/plain");
                 }},
        EntryRow{
            "LinkToADeviceThatIsNoTerminal",
            [](const TempFolder& f, const Pty&, const FakeTtyClass&) { f.Link(1, "/dev/null"); }},
        EntryRow{
            "LinkToTheControllingTerminalAlias",
            [](const TempFolder& f, const Pty&, const FakeTtyClass&) { f.Link(1, "/dev/tty"); }},
        EntryRow{"RelativeLink", [](const TempFolder& f, const Pty& p,
                                    const FakeTtyClass&) { f.Link(1, "../.." + p.slavePath); }},
        EntryRow{"RegularFileInsteadOfALink",
                 [](const TempFolder& f, const Pty&, const FakeTtyClass&) {
                     WriteFile(f.Entry(1), "/dev/pts/0");
                 }},
        // Resolution only looks at the device; it is never opened.
        EntryRow{"LinkToAVirtualTerminal", [](const TempFolder& f, const Pty&,
                                              const FakeTtyClass&) { f.Link(1, "/dev/tty1"); }},
        // The fake sysfs says that the pseudo-terminal is the console's port.
        EntryRow{"LinkToTheConsolesPort",
                 [](const TempFolder& f, const Pty& p, const FakeTtyClass& t) {
                     struct stat slaveStat {};
                     stat(p.slavePath.c_str(), &slaveStat);
                     t.SetDeviceNumber("ttyS0", slaveStat.st_rdev);
                     f.Link(1, p.slavePath);
                 }},
        // The link is older than the pseudo-terminal it names: the number was
        // handed out again since, perhaps to somebody's shell.
        EntryRow{"StalePseudoTerminalLink",
                 [](const TempFolder& f, const Pty& p, const FakeTtyClass&) {
                     f.Link(1, p.slavePath);
                     timespec times[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
                     utimensat(AT_FDCWD, f.Entry(1).c_str(), times, AT_SYMLINK_NOFOLLOW);
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

// Folder: COM2 a live pseudo-terminal, COM3 dangling. The fake sysfs lists the
// same pseudo-terminal's device number as ttyUSB0, and the folder names
// /dev/ttyACM7 by path: neither is handed out a second time.
class ResolutionOrderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        ASSERT_TRUE(folder.Link(2, pty.slavePath));
        ASSERT_TRUE(folder.Link(3, "/dev/pts/zantor-gone"));
        ASSERT_TRUE(folder.Link(9, "/dev/ttyACM7"));
        struct stat slaveStat {};
        ASSERT_EQ(stat(pty.slavePath.c_str(), &slaveStat), 0);
        ttyClass.SetDeviceNumber("ttyUSB0", slaveStat.st_rdev);
        ttyClass.Add("ttyACM7");
    }

    Resolved Resolve(int n, bool systemPorts = true) const {
        return comports::ResolvePort(n, folder.path, systemPorts, ttyClass.Path());
    }

    TempFolder folder;
    Pty pty;
    FakeTtyClass ttyClass;
};

TEST_F(ResolutionOrderTest, UnnamedNumbersTakeTheSystemPortsInRisingOrder) {
    std::vector<Resolved> expected = {"/dev/ttyS2",   pty.slavePath,  std::nullopt, "/dev/ttyS10",
                                      "/dev/ttyUSB1", "/dev/ttyACM0", std::nullopt, std::nullopt,
                                      std::nullopt,   std::nullopt};
    for (int n = 1; n <= static_cast<int>(expected.size()); ++n) {
        EXPECT_EQ(Resolve(n), expected[n - 1]) << "COM" << n;
    }
}

TEST_F(ResolutionOrderTest, NumbersOutsideTheRangeHaveNoDevice) {
    EXPECT_EQ(Resolve(0), std::nullopt);
    EXPECT_EQ(Resolve(33), std::nullopt);
    EXPECT_EQ(Resolve(-1), std::nullopt);
}

TEST_F(ResolutionOrderTest, WithoutSystemPortsOnlyTheFolderCounts) {
    EXPECT_EQ(Resolve(1, false), std::nullopt);
    EXPECT_EQ(Resolve(2, false), Resolved(pty.slavePath));
}

TEST_F(ResolutionOrderTest, UntrustedFolderLeavesEveryNumberToTheSystem) {
    chmod(folder.path.c_str(), 0750);
    EXPECT_EQ(Resolve(1), Resolved("/dev/ttyS2"));
    EXPECT_EQ(Resolve(2), Resolved("/dev/ttyS10"));
    EXPECT_EQ(Resolve(3), Resolved("/dev/ttyUSB0"));
    EXPECT_EQ(Resolve(6), Resolved("/dev/ttyACM7"));
}

}  // namespace
