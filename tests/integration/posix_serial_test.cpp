#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "PosixSerialServices.h"
#include "posix_test_support.h"

using posix_test::AllByteValues;
using posix_test::Pty;
using posix_test::Stopwatch;
using posix_test::TempFolder;

namespace {

// The timeouts the link keeps in force at 19200 baud: 1 ms a byte plus 61 ms.
constexpr CommTimeouts kBaseTimeouts{0, 1, 61, 1, 61};

// COM1 is a pseudo-terminal opened and set up as the link does it: 19200 baud,
// 8 data bits, no parity, one stop bit, DTR and RTS on, base timeouts.
class PosixPortTest : public ::testing::Test {
protected:
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

    TempFolder folder;
    Pty pty;
    PosixSerialServices services{{folder.path, /*systemPorts=*/false}};
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
    PosixSerialServices other{{folder.path, /*systemPorts=*/false}};
    EXPECT_EQ(other.Open(1), kInvalidPortHandle);
    EXPECT_EQ(services.Open(1), kInvalidPortHandle);

    services.Close(handle);
    PortHandle reopened = other.Open(1);
    EXPECT_NE(reopened, kInvalidPortHandle);
    other.Close(reopened);
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

}  // namespace
