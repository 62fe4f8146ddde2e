// The reader emulator as the program meets it: over the real POSIX serial
// services, through the port folder, with the link's own commands.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "CommErr.h"
#include "PosixSerialServices.h"
#include "SimProcess.h"
#include "Zantor50.h"

namespace {

using Record = std::array<uint8_t, 8>;

constexpr Record kDefaultRecord = {0x01, 0xC0, 0x05, 0x03, 0x60, 0x00, 0x03, 0x00};
constexpr int kReady = 10000;

class SimReaderTest : public ::testing::Test {
protected:
    void StartSim(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {"--port", "3", "--folder", folder.Path(), "--trace"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_TRUE(sim.Start(args));
        ASSERT_TRUE(sim.WaitReady(kReady)) << sim.Transcript();
    }

    // Trace lines of one kind ("RX", "TX") that have come so far, in order.
    std::vector<simtest::TraceLine> Traced(const std::string& tag) { return sim.Traced(tag); }

    simtest::TempPortFolder folder;
    simtest::SimProcess sim;
    PosixSerialServices services{{folder.Path(), /*systemPorts=*/false}};
    Zantor50 link{services};
};

TEST_F(SimReaderTest, FindReaderFindsItOnCom3WithCom1AndCom2Absent) {
    StartSim();
    ASSERT_TRUE(link.FindReader(48)) << sim.Transcript();
    EXPECT_EQ(link.lastFoundPort, 3);
    EXPECT_EQ(link.OpenPortNumber(), 3);
    EXPECT_EQ(link.typeCode, 1064);
    EXPECT_EQ(link.serialNumber, 313);
    EXPECT_EQ(link.firmwareVersion, 7);
    EXPECT_EQ(link.ModelNumber(), 40);
    EXPECT_TRUE(link.OnStandInLine());
    EXPECT_NE(sim.ReadyLine().find("COM3 -> /dev/pts/"), std::string::npos);
    EXPECT_NE(sim.ReadyLine().find("(ZANTOR-40, serial 313, firmware 7)"), std::string::npos);
}

TEST_F(SimReaderTest, IdentificationOnTheWireIsTheReadersExchange) {
    StartSim();
    ASSERT_TRUE(link.FindReader(48));
    const auto rx = Traced("RX");
    const auto tx = Traced("TX");
    ASSERT_EQ(rx.size(), 1u) << sim.Transcript();
    ASSERT_EQ(tx.size(), 1u) << sim.Transcript();
    EXPECT_EQ(rx[0].bytes, simtest::Bytes("05 00 4D A1 F4"));
    EXPECT_EQ(tx[0].bytes, simtest::Bytes("0B 00 CD 28 04 39 01 07 00 CD 88"));
    // The reply starts no earlier than the reply delay after the request's last byte.
    EXPECT_GE(tx[0].seconds - rx[0].seconds, 0.001);
}

TEST_F(SimReaderTest, ReadConfigReturnsTheConfiguredRecord) {
    StartSim({"--config", "80 C0 05 03 00 00 03 00"});
    ASSERT_TRUE(link.FindReader(48));
    Record record{};
    link.ReadConfig(record);
    EXPECT_EQ(record, (Record{0x80, 0xC0, 0x05, 0x03, 0x00, 0x00, 0x03, 0x00}));
}

TEST_F(SimReaderTest, WrittenRecordIsReadBack) {
    StartSim();
    ASSERT_TRUE(link.FindReader(48));
    Record record{};
    link.ReadConfig(record);
    EXPECT_EQ(record, kDefaultRecord);

    const Record written = {0x01, 0x81, 0x0A, 0x81, 0xF5, 0x00, 0x03, 0x00};
    link.WriteConfig(written);
    link.ReadConfig(record);
    EXPECT_EQ(record, written);
}

TEST_F(SimReaderTest, ZeroRecordGoesOutAsTheSealedFrameAndIsAccepted) {
    StartSim();
    ASSERT_TRUE(link.FindReader(48));
    link.WriteConfig(Record{});
    const auto rx = Traced("RX");
    const auto tx = Traced("TX");
    ASSERT_EQ(rx.size(), 2u) << sim.Transcript();
    EXPECT_EQ(rx[1].bytes, simtest::Bytes("11 00 43 00 00 00 00 00 00 00 00 59 BB 04 69 CA E7"));
    EXPECT_EQ(tx.back().bytes, simtest::Bytes("06 00 C3 00 50 5C"));
}

TEST_F(SimReaderTest, BadSealIsRefusedAndTheRecordKept) {
    StartSim();
    ASSERT_TRUE(link.FindReader(48));
    const std::vector<uint8_t> payload = simtest::Bytes("00 00 00 00 00 00 00 00 59 BB 04 6A");
    EXPECT_THROW(link.TransactStatus('C', 12, payload.data(), 100), CommErr);
    EXPECT_EQ(Traced("TX").back().bytes, simtest::Bytes("06 00 C3 01 91 9C"));
    Record record{};
    link.ReadConfig(record);
    EXPECT_EQ(record, kDefaultRecord);
}

TEST_F(SimReaderTest, FinishedUpgradeBringsTheVersionOfItsHeader) {
    StartSim();
    ASSERT_TRUE(link.FindReader(48));
    const std::vector<uint8_t> header =
        simtest::Bytes("04 28 09 00 02 00 00 00 11 22 33 44 55 66 77 88");
    const std::vector<uint8_t> block(520, 0xA5);
    const std::vector<uint8_t> seal(8, 0x5A);
    link.UpgradeBegin(header.data(), 500);
    link.UpgradeBlock(0, block.data(), 500);
    link.UpgradeBlock(1, block.data(), 500);
    link.UpgradeSeal(seal.data(), 1000);
    link.UpgradeFinish(200);
    ASSERT_TRUE(link.FindReader(48));
    EXPECT_EQ(link.firmwareVersion, 9);
    // The block frame is 527 bytes long: its length field reads 0F 02.
    const auto rx = Traced("RX");
    ASSERT_GE(rx.size(), 3u);
    EXPECT_EQ(rx[2].bytes.size(), 527u);
    EXPECT_EQ(rx[2].bytes[0], 0x0F);
    EXPECT_EQ(rx[2].bytes[1], 0x02);
}

TEST_F(SimReaderTest, ClosingAndReopeningThePortKeepsTheReader) {
    StartSim();
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(link.FindReader(48)) << "round " << round << "\n" << sim.Transcript();
        link.ClosePort();
    }
}

TEST_F(SimReaderTest, IgnoredRequestIsAnsweredOnTheSecondAttempt) {
    StartSim({"--ignore-request", "1"});
    ASSERT_TRUE(link.FindReader(48)) << sim.Transcript();
    EXPECT_EQ(Traced("RX").size(), 2u);
    EXPECT_EQ(Traced("TX").size(), 1u);
}

TEST_F(SimReaderTest, ForcedStatusMakesWriteConfigFail) {
    StartSim({"--status", "C=1"});
    ASSERT_TRUE(link.FindReader(48));
    EXPECT_THROW(link.WriteConfig(Record{}), CommErr);
    Record record{};
    link.ReadConfig(record);
    EXPECT_EQ(record, kDefaultRecord);
}

TEST_F(SimReaderTest, InterleavedFramesArePassedOver) {
    StartSim({"--interleave", "2"});
    ASSERT_TRUE(link.FindReader(48)) << sim.Transcript();
    Record record{};
    link.ReadConfig(record);
    EXPECT_EQ(record, kDefaultRecord);
    const auto tx = Traced("TX");
    ASSERT_EQ(tx.size(), 6u) << sim.Transcript();
    EXPECT_EQ(tx[0].bytes[2], 0xC1);
    EXPECT_EQ(tx[1].bytes[2], 0xC1);
    EXPECT_EQ(tx[2].bytes[2], 0xCD);
}

struct DelayRow {
    const char* name;
    const char* delay;
    bool found;
};

class SimReplyDelayTest : public SimReaderTest, public ::testing::WithParamInterface<DelayRow> {};

// The identification is waited for 2 byte times plus 61 ms.
TEST_P(SimReplyDelayTest, IdentificationCountsOnlyWithinItsAllowance) {
    StartSim({"--reply-delay-for", std::string("M=") + GetParam().delay});
    EXPECT_EQ(link.FindReader(48), GetParam().found) << sim.Transcript();
}

INSTANTIATE_TEST_SUITE_P(Allowance, SimReplyDelayTest,
                         ::testing::Values(DelayRow{"WellInside", "20", true},
                                           DelayRow{"FarOutside", "400", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The request that makes the reader vanish is sent without waiting for its
// reply, so no exchange here depends on how soon a busy machine answers.
TEST_F(SimReaderTest, VanishedReaderEndsTheExchangesAndItsLink) {
    StartSim({"--vanish-after", "1"});
    ASSERT_TRUE(link.SelectPort(3));
    link.SendIdentifyRequest();
    EXPECT_EQ(sim.WaitExit(5000), 0) << sim.Transcript();
    EXPECT_EQ(Traced("TX").size(), 1u) << sim.Transcript();
    Record record{};
    struct stat info {};
    EXPECT_NE(lstat(folder.Entry("com3").c_str(), &info), 0);
    EXPECT_THROW(link.ReadConfig(record), CommErr);
    EXPECT_FALSE(link.FindReader(48));
}

}  // namespace
