#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>

#include "ComPortsInternal.h"
#include "PosixSerialServices.h"
#include "TermiosMapping.h"
#include "UartModel.h"
#include "posix_test_support.h"

using posix_test::AllByteValues;
using posix_test::Pty;
using posix_test::Stopwatch;
using posix_test::TempFolder;

extern char** environ;

namespace {

// The timeouts the link keeps in force at 19200 baud: 1 ms a byte plus 61 ms.
constexpr CommTimeouts kBaseTimeouts{0, 1, 61, 1, 61};

enum class Line { kPseudoTerminal, kUart, kStuckUart };

// COM1 is a pseudo-terminal opened and set up as the link does it: 19200 baud,
// 8 data bits, no parity, one stop bit, DTR and RTS on, base timeouts. Lock
// files go to the test's own folder. On a modelled UART the output queue drains
// at the line rate, or never when stuck.
class PosixPortTest : public ::testing::Test {
protected:
    explicit PosixPortTest(Line line = Line::kPseudoTerminal)
        : services{{folder.path,
                    /*systemPorts=*/false,
                    {folder.path},
                    line == Line::kUart        ? &uart
                    : line == Line::kStuckUart ? &stuckUart
                                               : nullptr}} {}

    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        ASSERT_FALSE(folder.path.empty());
        ASSERT_TRUE(folder.Link(1, pty.slavePath));
        handle = services.Open(1);
        ASSERT_NE(handle, kInvalidPortHandle);
        ASSERT_TRUE(services.GetState(handle, settings));
        settings.dcbLength = kDcbLength;
        settings.baudRate = 19200;
        settings.binary = true;
        settings.parityCheck = false;
        settings.outxCtsFlow = false;
        settings.outxDsrFlow = false;
        settings.dtrControl = kDtrControlEnable;
        settings.dsrSensitivity = false;
        settings.outX = false;
        settings.inX = false;
        settings.rtsControl = kRtsControlEnable;
        settings.byteSize = 8;
        settings.parity = kNoParity;
        settings.stopBits = kOneStopBit;
        ASSERT_TRUE(services.SetState(handle, settings));
        ASSERT_TRUE(services.SetTimeouts(handle, kBaseTimeouts));
    }

    void TearDown() override { services.Close(handle); }

    // Bytes the device sends later, from another thread, while the port reads.
    std::thread SendLater(std::vector<std::pair<int, uint8_t>> delayAndByte) {
        return std::thread([this, delayAndByte] {
            for (auto [delayMs, byte] : delayAndByte) {
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
                pty.WriteMaster({byte});
            }
        });
    }

    std::string LockFile() const {
        return folder.path + "/" + comports::LockFileName(pty.slavePath);
    }

    TempFolder folder;
    Pty pty;
    UartModel uart;
    UartModel stuckUart{/*stuck=*/true};
    PosixSerialServices services;
    PortHandle handle = kInvalidPortHandle;
    LineSettings settings;
};

// A fresh pseudo-terminal echoes, translates CR/LF, interprets ^C, ^S/^Q, ^D and
// DEL: every one of those must be switched off.
TEST_F(PosixPortTest, AllByteValuesPassToTheDeviceUnchanged) {
    std::vector<uint8_t> bytes = AllByteValues();
    EXPECT_EQ(services.Write(handle, bytes.data(), 256), 256u);
    EXPECT_EQ(pty.ReadMaster(257, 1000), bytes);
}

TEST_F(PosixPortTest, AllByteValuesPassFromTheDeviceUnchanged) {
    std::vector<uint8_t> bytes = AllByteValues();
    ASSERT_TRUE(pty.WriteMaster(bytes));
    std::vector<uint8_t> received(256);
    EXPECT_EQ(services.Read(handle, received.data(), 256), 256u);
    EXPECT_EQ(received, bytes);
    EXPECT_TRUE(pty.ReadMaster(1, 100).empty()) << "nothing may be echoed back";
}

TEST_F(PosixPortTest, ReadReturnsAsSoonAsTheCountHasArrived) {
    ASSERT_TRUE(services.SetTimeouts(handle, {0, 1, 5000, 1, 61}));
    std::thread device = SendLater({{50, 0x05}, {0, 0x00}, {0, 0x4D}});
    uint8_t received[3] = {};
    Stopwatch watch;
    uint32_t got = services.Read(handle, received, 3);
    long long elapsed = watch.ElapsedMs();
    device.join();
    EXPECT_EQ(got, 3u);
    EXPECT_LT(elapsed, 2000);
}

// Bytes arriving with gaps far longer than a byte time are still collected, as
// long as the whole read is within its total allowance.
TEST_F(PosixPortTest, GapsBetweenBytesDoNotEndTheRead) {
    ASSERT_TRUE(services.SetTimeouts(handle, {0, 1, 2000, 1, 61}));
    std::thread device = SendLater({{0, 0xA1}, {150, 0xA2}, {150, 0xA3}, {150, 0xA4}});
    uint8_t received[4] = {};
    uint32_t got = services.Read(handle, received, 4);
    device.join();
    ASSERT_EQ(got, 4u);
    EXPECT_EQ(std::vector<uint8_t>(received, received + 4),
              (std::vector<uint8_t>{0xA1, 0xA2, 0xA3, 0xA4}));
}

TEST_F(PosixPortTest, ReadReturnsWhatArrivedWhenTheTotalPasses) {
    std::thread device = SendLater({{0, 0xCD}});
    uint8_t received[11] = {};
    uint32_t got = services.Read(handle, received, 11);
    device.join();
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(received[0], 0xCD);
}

TEST_F(PosixPortTest, VanishedDeviceEndsAPendingReadWithWhatArrived) {
    ASSERT_TRUE(services.SetTimeouts(handle, {0, 1, 5000, 1, 61}));
    std::thread device([this] {
        pty.WriteMaster({0x0B, 0x00, 0xCD});
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        pty.CloseMaster();
    });
    uint8_t received[11] = {};
    Stopwatch watch;
    uint32_t got = services.Read(handle, received, 11);
    long long elapsed = watch.ElapsedMs();
    device.join();
    EXPECT_EQ(got, 3u);
    EXPECT_LT(elapsed, 2500) << "the read must not wait out its 5 s allowance";
}

TEST_F(PosixPortTest, WriteToAVanishedDeviceReportsNothingWritten) {
    ASSERT_TRUE(services.SetTimeouts(handle, {0, 1, 61, 1, 5000}));
    pty.CloseMaster();
    uint8_t frame[5] = {0x05, 0x00, 0x4D, 0xA1, 0xF4};
    Stopwatch watch;
    EXPECT_EQ(services.Write(handle, frame, 5), 0u);
    EXPECT_LT(watch.ElapsedMs(), 2500);
}

// The device never reads: the pty's buffer fills and the write gives up when its
// total allowance has passed, reporting how much was taken.
TEST_F(PosixPortTest, WriteReturnsTheShortCountWhenItsAllowancePasses) {
    ASSERT_TRUE(services.SetTimeouts(handle, {0, 1, 61, 0, 150}));
    std::vector<uint8_t> bytes(256 * 1024, 0x55);
    Stopwatch watch;
    uint32_t written = services.Write(handle, bytes.data(), static_cast<uint32_t>(bytes.size()));
    long long elapsed = watch.ElapsedMs();
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, bytes.size());
    EXPECT_GE(elapsed, 140);
    EXPECT_LT(elapsed, 1500);
}

TEST_F(PosixPortTest, AnotherProgramCannotOpenAHeldPort) {
    PosixSerialServices other{{folder.path, /*systemPorts=*/false, {folder.path}}};
    EXPECT_EQ(other.Open(1), kInvalidPortHandle);
    EXPECT_EQ(services.Open(1), kInvalidPortHandle);

    // Our marks, as other programs look for them: the lock file with our PID,
    // flock and the exclusive flag (which keeps out everybody but root).
    int pid = 0;
    std::ifstream(LockFile()) >> pid;
    EXPECT_EQ(pid, getpid());
    int probe = open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int exclusive = 0;
    if (probe >= 0) {
        EXPECT_EQ(ioctl(probe, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
        EXPECT_NE(flock(probe, LOCK_EX | LOCK_NB), 0);
        close(probe);
    } else {
        EXPECT_EQ(errno, EBUSY);
    }

    services.Close(handle);
    EXPECT_FALSE(std::filesystem::exists(LockFile()));
    probe = open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    EXPECT_EQ(ioctl(probe, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_EQ(flock(probe, LOCK_EX | LOCK_NB), 0);
    close(probe);
    PortHandle reopened = other.Open(1);
    EXPECT_NE(reopened, kInvalidPortHandle);
    other.Close(reopened);
}

bool SameTermios(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

// Another program's settings (9600 baud, canonical, echo, CR/LF translation,
// 7 bits with even parity, which a pseudo-terminal turns into 8 bits without)
// come back as found, after the link has made the line raw at 19200.
TEST_F(PosixPortTest, CloseGivesBackTheSettingsFoundAtOpen) {
    services.Close(handle);
    int slave = open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave, 0);
    termios found{};
    ASSERT_EQ(tcgetattr(slave, &found), 0);
    cfsetispeed(&found, B9600);
    cfsetospeed(&found, B9600);
    found.c_cflag = (found.c_cflag & ~CSIZE) | CS7 | PARENB;
    found.c_lflag |= ICANON | ECHO | ISIG;
    found.c_iflag |= ICRNL | IXON;
    found.c_oflag |= OPOST | ONLCR;
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &found), 0);
    ASSERT_EQ(tcgetattr(slave, &found), 0);
    close(slave);

    handle = services.Open(1);
    ASSERT_NE(handle, kInvalidPortHandle);
    ASSERT_TRUE(services.SetState(handle, settings));
    services.Close(handle);

    slave = open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave, 0);
    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    close(slave);
    EXPECT_TRUE(SameTermios(found, after));
}

TEST_F(PosixPortTest, ClosedHandleIsRefused) {
    services.Close(handle);
    uint8_t byte = 0;
    EXPECT_FALSE(services.GetState(handle, settings));
    EXPECT_FALSE(services.SetTimeouts(handle, kBaseTimeouts));
    EXPECT_EQ(services.Read(handle, &byte, 1), 0u);
    EXPECT_EQ(services.Write(handle, &byte, 1), 0u);
}

// Fields termios has no place for come back as the link set them, so that what
// it leaves alone stays as delivered.
TEST_F(PosixPortTest, SettingsWithoutTermiosMeaningComeBackAsSet) {
    settings.txContinueOnXoff = true;
    settings.dsrSensitivity = true;
    settings.xonLim = 2048;
    settings.xoffLim = 512;
    settings.errorChar = '?';
    settings.eofChar = 0x1A;
    settings.evtChar = 0x7E;
    ASSERT_TRUE(services.SetState(handle, settings));
    LineSettings delivered;
    ASSERT_TRUE(services.GetState(handle, delivered));
    EXPECT_EQ(delivered, settings);
}

struct RefusedSettingsRow {
    const char* name;
    void (*change)(LineSettings&);
};

class PosixPortRefusedSettingsTest : public PosixPortTest,
                                     public ::testing::WithParamInterface<RefusedSettingsRow> {};

// A pseudo-terminal always carries 8 bits without parity; the read-back notices
// that it did not take the settings as asked.
TEST_P(PosixPortRefusedSettingsTest, SetStateReportsFalse) {
    GetParam().change(settings);
    EXPECT_FALSE(services.SetState(handle, settings));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PosixPortRefusedSettingsTest,
    ::testing::Values(
        RefusedSettingsRow{"BaudWithoutASpeed", [](LineSettings& s) { s.baudRate = 12345; }},
        RefusedSettingsRow{"EvenParityTwoStopBits",
                           [](LineSettings& s) {
                               s.parity = kEvenParity;
                               s.stopBits = kTwoStopBits;
                           }},
        RefusedSettingsRow{"SevenDataBits", [](LineSettings& s) { s.byteSize = 7; }},
        RefusedSettingsRow{"DsrOutputFlow", [](LineSettings& s) { s.outxDsrFlow = true; }}),
    [](const auto& info) { return std::string(info.param.name); });

struct SilentReadRow {
    const char* name;
    uint32_t multiplierMs;
    uint32_t constantMs;
    uint32_t count;
    long long atLeastMs;
    long long belowMs;
};

class PosixPortSilentReadTest : public PosixPortTest,
                                public ::testing::WithParamInterface<SilentReadRow> {};

TEST_P(PosixPortSilentReadTest, ReturnsNothingAfterTheTotalAllowance) {
    const SilentReadRow& row = GetParam();
    ASSERT_TRUE(services.SetTimeouts(handle, {0, row.multiplierMs, row.constantMs, 1, 61}));
    std::vector<uint8_t> received(row.count);
    Stopwatch watch;
    uint32_t got = services.Read(handle, received.data(), row.count);
    long long elapsed = watch.ElapsedMs();
    EXPECT_EQ(got, 0u);
    EXPECT_GE(elapsed, row.atLeastMs);
    EXPECT_LT(elapsed, row.belowMs);
}

INSTANTIATE_TEST_SUITE_P(
    Timeouts, PosixPortSilentReadTest,
    ::testing::Values(SilentReadRow{"TwoBytesBaseTimeouts63ms", 1, 61, 2, 60, 400},
                      SilentReadRow{"TwoBytesExtra100ms163ms", 1, 161, 2, 160, 500},
                      SilentReadRow{"TenBytesAt10msEach161ms", 10, 61, 10, 158, 500}),
    [](const auto& info) { return std::string(info.param.name); });

class PosixOpenTest : public ::testing::TestWithParam<int> {};

// With the system ports switched off, only the folder's links are ports.
TEST_P(PosixOpenTest, NumberWithoutADeviceDoesNotOpen) {
    TempFolder folder;
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    ASSERT_TRUE(folder.Link(1, pty.slavePath));
    PosixSerialServices services{{folder.path, /*systemPorts=*/false}};
    EXPECT_EQ(services.Open(GetParam()), kInvalidPortHandle);
}

INSTANTIATE_TEST_SUITE_P(Numbers, PosixOpenTest, ::testing::Values(0, 2, 32, 33, -1));

// Another program holding COM1, in one of the ways programs hold serial ports.
struct Holder {
    ~Holder() {
        if (fd >= 0) close(fd);
        if (child > 0) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
    }
    int fd = -1;
    pid_t child = -1;
};

// A program that has device open and takes no lock: as its standard input, or
// after many other descriptors, more than one batch of a folder listing holds.
pid_t SpawnHolding(const std::string& device, int descriptorsBefore = 0) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 3; fd < 3 + descriptorsBefore; ++fd) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDONLY, 0);
    }
    const int deviceFd = descriptorsBefore == 0 ? STDIN_FILENO : 3 + descriptorsBefore;
    posix_spawn_file_actions_addopen(&actions, deviceFd, device.c_str(), O_RDWR | O_NOCTTY, 0);
    char program[] = "/bin/sleep";
    char seconds[] = "30";
    char* argv[] = {program, seconds, nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, program, &actions, nullptr, argv, environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void WriteLockFile(const std::string& path, pid_t pid) {
    std::ofstream(path) << std::string(10 - std::to_string(pid).size(), ' ') << pid << "\n";
}

struct HolderRow {
    const char* name;
    std::function<void(Holder&, const std::string& device, const std::string& lockFile)> take;
    const char* how;  // as the port is described; nullptr: not seen without opening it
};

class PosixHolderTest : public ::testing::TestWithParam<HolderRow> {
protected:
    TempFolder folder;
    Pty pty;
    PosixSerialServices services{{folder.path, /*systemPorts=*/false, {folder.path}}};
};

// The port is passed over like a missing one; nothing is written to it and the
// other program's marks stay as they were.
TEST_P(PosixHolderTest, PortIsPassedOverUntouched) {
    ASSERT_TRUE(pty.Ok());
    ASSERT_TRUE(folder.Link(1, pty.slavePath));
    const std::string lockFile = folder.path + "/" + comports::LockFileName(pty.slavePath);
    Holder holder;
    GetParam().take(holder, pty.slavePath, lockFile);
    int exclusiveBefore = 0;
    if (holder.fd >= 0) ioctl(holder.fd, TIOCGEXCL, &exclusiveBefore);

    comports::PortDescription description =
        comports::DescribePort(1, folder.path, false, comports::kTtyClassDir, {folder.path});
    EXPECT_EQ(services.Open(1), kInvalidPortHandle);
    EXPECT_TRUE(pty.ReadMaster(1, 50).empty());
    if (GetParam().how != nullptr) {
        EXPECT_EQ(description.state, comports::PortState::Held);
        ASSERT_TRUE(description.holder);
        EXPECT_EQ(description.holder->how, GetParam().how);
    }

    int exclusiveAfter = 0;
    if (holder.fd >= 0) ioctl(holder.fd, TIOCGEXCL, &exclusiveAfter);
    EXPECT_EQ(exclusiveAfter, exclusiveBefore);
    const bool lockFileRow =
        GetParam().how != nullptr && GetParam().how == std::string("lock file");
    EXPECT_EQ(std::filesystem::exists(lockFile), lockFileRow);
}

INSTANTIATE_TEST_SUITE_P(
    Holders, PosixHolderTest,
    ::testing::Values(HolderRow{"Flock",
                                [](Holder& h, const std::string& device, const std::string&) {
                                    h.fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
                                    ASSERT_EQ(flock(h.fd, LOCK_EX | LOCK_NB), 0);
                                },
                                "flock"},
                      HolderRow{"LockFileWithALivePid",
                                [](Holder&, const std::string&, const std::string& lockFile) {
                                    WriteLockFile(lockFile, getppid());
                                },
                                "lock file"},
                      HolderRow{"ExclusiveFlag",
                                [](Holder& h, const std::string& device, const std::string&) {
                                    h.fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
                                    ASSERT_EQ(ioctl(h.fd, TIOCEXCL), 0);
                                },
                                nullptr},
                      HolderRow{"OpenInAnotherProcess",
                                [](Holder& h, const std::string& device, const std::string&) {
                                    h.child = SpawnHolding(device);
                                    ASSERT_GT(h.child, 0);
                                },
                                "open"},
                      HolderRow{"OpenAfterAThousandDescriptors",
                                [](Holder& h, const std::string& device, const std::string&) {
                                    h.child = SpawnHolding(device, 1000);
                                    ASSERT_GT(h.child, 0);
                                },
                                "open"}),
    [](const auto& info) { return std::string(info.param.name); });

// Another user's live program (PID 1 here) is alive to a technician who may not
// signal it: kill says EPERM. Checked in a child that is such a user.
TEST(PosixLockFileTest, AnotherUsersProgramIsAlive) {
    const pid_t child = fork();
    if (child == 0) _exit((getuid() != 0 || setuid(65534) == 0) && comports::IsAlive(1) ? 0 : 1);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
}

// A lock file left by a program that died holds nothing: ours takes its place
// while the port is open, and goes with the close.
TEST(PosixLockFileTest, StaleLockFileMakesWayForOurs) {
    TempFolder folder;
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    ASSERT_TRUE(folder.Link(1, pty.slavePath));
    pid_t dead = SpawnHolding("/dev/null");
    ASSERT_GT(dead, 0);
    kill(dead, SIGKILL);
    waitpid(dead, nullptr, 0);
    const std::string lockFile = folder.path + "/" + comports::LockFileName(pty.slavePath);
    WriteLockFile(lockFile, dead);

    comports::PortDescription description =
        comports::DescribePort(1, folder.path, false, comports::kTtyClassDir, {folder.path});
    EXPECT_EQ(description.state, comports::PortState::Free);
    EXPECT_EQ(description.origin, comports::PortOrigin::Folder);
    EXPECT_EQ(description.device, pty.slavePath);
    EXPECT_EQ(
        comports::DescribePort(2, folder.path, false, comports::kTtyClassDir, {folder.path}).state,
        comports::PortState::Missing);

    PosixSerialServices services{{folder.path, /*systemPorts=*/false, {folder.path}}};
    PortHandle handle = services.Open(1);
    ASSERT_NE(handle, kInvalidPortHandle);
    int pid = 0;
    std::ifstream(lockFile) >> pid;
    EXPECT_EQ(pid, getpid());
    services.Close(handle);
    EXPECT_FALSE(std::filesystem::exists(lockFile));
}

// A program that holds the port and is ended by a signal takes its marks away
// on the way out: the pseudo-terminal's exclusive flag would outlive it.
TEST(PosixCrashTest, MarksGoWhenTheHolderIsKilled) {
    TempFolder folder;
    Pty pty;
    ASSERT_TRUE(pty.Ok());
    ASSERT_TRUE(folder.Link(1, pty.slavePath));
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        PosixSerialServices services{{folder.path, /*systemPorts=*/false, {folder.path}}};
        const char opened = services.Open(1) != kInvalidPortHandle ? '1' : '0';
        if (write(ready[1], &opened, 1) == 1) pause();
        _exit(1);
    }
    char opened = 0;
    ASSERT_EQ(read(ready[0], &opened, 1), 1);
    close(ready[0]);
    close(ready[1]);
    ASSERT_EQ(opened, '1');
    const std::string lockFile = folder.path + "/" + comports::LockFileName(pty.slavePath);
    EXPECT_TRUE(std::filesystem::exists(lockFile));
    kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);

    EXPECT_FALSE(std::filesystem::exists(lockFile));
    const int probe = open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    int exclusive = 1;
    EXPECT_EQ(ioctl(probe, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(probe);
}

struct UartWriteRow {
    const char* name;
    uint32_t baud;
    uint32_t count;
};

class PosixUartWriteTest : public PosixPortTest,
                           public ::testing::WithParamInterface<UartWriteRow> {
protected:
    PosixUartWriteTest() : PosixPortTest(Line::kUart) {}
};

// A write is done once its last byte has left the UART: not before, and not
// much after, at any rate.
TEST_P(PosixUartWriteTest, WriteEndsWhenItsLastByteHasLeft) {
    const UartWriteRow& row = GetParam();
    settings.baudRate = row.baud;
    ASSERT_TRUE(services.SetState(handle, settings));
    ASSERT_TRUE(services.SetTimeouts(handle, {0, 1, 61, 1, 5000}));
    std::vector<uint8_t> bytes(row.count, 0x55);
    const double lineMs = row.count * 10 * 1000.0 / row.baud;
    Stopwatch watch;
    EXPECT_EQ(services.Write(handle, bytes.data(), row.count), row.count);
    const long long elapsed = watch.ElapsedMs();
    EXPECT_GE(elapsed, lineMs - 1);
    EXPECT_LT(elapsed, lineMs * 1.5);
}

INSTANTIATE_TEST_SUITE_P(Rates, PosixUartWriteTest,
                         ::testing::Values(UartWriteRow{"At19200", 19200, 200},
                                           UartWriteRow{"At115200", 115200, 1000}),
                         [](const auto& info) { return std::string(info.param.name); });

class PosixStuckUartTest : public PosixPortTest {
protected:
    PosixStuckUartTest() : PosixPortTest(Line::kStuckUart) {}
};

// The write gives up at its deadline with nothing sent; closing then throws the
// queue away instead of waiting for a line that does not move.
TEST_F(PosixStuckUartTest, CloseAfterAStuckWriteReturnsAtOnce) {
    const uint8_t frame[5] = {0x05, 0x00, 0x4D, 0xA1, 0xF4};
    EXPECT_LT(services.Write(handle, frame, 5), 5u);
    Stopwatch watch;
    services.Close(handle);
    EXPECT_LT(watch.ElapsedMs(), 1000);
}

struct ParityRow {
    const char* name;
    uint8_t parity;
    tcflag_t bits;  // PARENB and PARODD
};

class TermiosParityTest : public ::testing::TestWithParam<ParityRow> {};

// A parity bit is sent, never checked on input.
TEST_P(TermiosParityTest, MapsBothWays) {
    const ParityRow& row = GetParam();
    LineSettings asked;
    asked.baudRate = 19200;
    asked.parity = row.parity;
    termios made{};
    ASSERT_TRUE(termios_mapping::ToTermios(asked, made));
    EXPECT_EQ(made.c_cflag & (PARENB | PARODD), row.bits);
    EXPECT_EQ(made.c_iflag & INPCK, 0u);

    termios found{};
    found.c_cflag = CS8 | row.bits;
    LineSettings read;
    termios_mapping::FromTermios(found, read);
    EXPECT_EQ(read.parity, row.parity);
}

INSTANTIATE_TEST_SUITE_P(Parity, TermiosParityTest,
                         ::testing::Values(ParityRow{"None", kNoParity, 0},
                                           ParityRow{"Odd", kOddParity, PARENB | PARODD},
                                           ParityRow{"Even", kEvenParity, PARENB}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
