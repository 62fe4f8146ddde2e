#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "FakeSerialServices.h"
#include "ReaderSession.h"

namespace {

using session::FindAgain;
using session::ImageVerdict;
using session::Presence;
using session::ReaderSession;
using session::UpgradeEvent;

// An image of the upgrade layout, all filler past the header.
Bytes MakeImage(uint16_t type, uint16_t version, uint16_t blocks, const char* mark = "RELEASE!") {
    Bytes image(upgrade::kHeaderSize + upgrade::kBlockSize * blocks + upgrade::kTableSize, 0);
    const uint16_t words[] = {static_cast<uint16_t>(type << 8 | type >> 8), version, blocks};
    std::memcpy(image.data(), words, sizeof words);  // the type most significant byte first
    std::memcpy(image.data() + 8, mark, 8);
    return image;
}

// A ZANTOR-40 (serial 313, firmware 7) on COM1, connected, and another reader
// (serial 2) on COM2.
struct OneReader {
    FakeSerialServices fake;
    FakeReader reader;
    FakeReader other;
    ReaderSession session;

    explicit OneReader(FindAgain rule = FindAgain::SamePort) : session(fake, rule) {
        other.serialNumber = 2;
        fake.AttachReader(1, reader);
        fake.AttachReader(2, other);
        EXPECT_TRUE(session.Connect(1));
        reader.requests.clear();
    }
};

// The window searches every port again; zantor and the station only their
// own, where a silent reader is no licence to take another port's.
TEST(SessionTest, LooksForTheReaderAgainByItsRule) {
    for (const auto& [rule, presence, serial] :
         {std::tuple{FindAgain::Search, Presence::Answered, 2},
          std::tuple{FindAgain::SamePort, Presence::Silent, 313}}) {
        OneReader one(rule);
        one.reader.ignoreRequests = 1000;
        EXPECT_EQ(one.session.LookAgain(), presence);
        EXPECT_EQ(one.session.Reader().serialNumber, serial);
        EXPECT_EQ(one.fake.IsOpen(2), rule == FindAgain::Search);
    }
}

TEST(SessionTest, APortWhereNothingAnswersIsClosedAgain) {
    OneReader one;
    one.fake.AddPort(4);
    EXPECT_FALSE(one.session.Connect(4));
    EXPECT_FALSE(one.fake.IsOpen(4));
}

// A stand-in image (marked STAND-IN) goes only over a stand-in line, where
// only a program playing a reader can answer.
TEST(SessionTest, JudgesTheImageForTheIdentifiedReader) {
    using Kind = ImageVerdict::Kind;
    const struct {
        const char* name;
        bool given;
        uint16_t type;
        uint16_t version;
        const char* mark;
        bool standInLine;
        Kind kind;
    } rows[] = {
        {"no image", false, 1064, 8, "RELEASE!", false, Kind::NoImage},
        {"another type", true, 2098, 8, "RELEASE!", false, Kind::WrongType},
        {"same version", true, 1064, 7, "RELEASE!", false, Kind::UpToDate},
        {"stand-in on a device", true, 1064, 8, "STAND-IN", false, Kind::StandInOnly},
        {"stand-in on a stand-in line", true, 1064, 8, "STAND-IN", true, Kind::Due},
        {"mark one letter off", true, 1064, 8, "STAND-IM", false, Kind::Due},
        {"newer", true, 1064, 8, "RELEASE!", false, Kind::Due},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        OneReader one;
        if (row.standInLine) one.fake.MakeStandInLine(1);
        const Bytes image = MakeImage(row.type, row.version, 1, row.mark);
        const ImageVerdict verdict =
            one.session.Judge(row.given ? std::optional(upgrade::Offer{image, ""}) : std::nullopt);
        EXPECT_EQ(verdict.kind, row.kind);
        EXPECT_EQ(verdict.intact, row.given);
        EXPECT_EQ(verdict.firmwareVersion, 7);
    }
}

// Each event, with its step and percentage where it has them:
// "B A0:0 A1:30 ... C21:100 E".
std::string Told(const std::vector<UpgradeEvent>& events) {
    std::string text;
    for (const UpgradeEvent& event : events) {
        text += std::string(text.empty() ? "" : " ") + "BACE"[static_cast<int>(event.kind)];
        if (event.kind == UpgradeEvent::Kind::BlockAcknowledged ||
            event.kind == UpgradeEvent::Kind::Closing) {
            text += std::to_string(event.step) + ":" + std::to_string(event.Percent());
        }
    }
    return text;
}

TEST(SessionTest, TellsTheUpgradeInOrderAndItsEndAfterAFailure) {
    std::string closing;
    for (int step = 0; step <= ReaderSession::kClosingSteps; ++step) {
        closing += " C" + std::to_string(step) + ":" + std::to_string(60 + step * 40 / 21);
    }
    const struct {
        uint16_t blocks;
        uint8_t blockStatus;
        std::string told;
    } rows[] = {
        {2, 0, "B A0:0 A1:30 A2:60" + closing + " E"},
        {0, 0, "B A0:60" + closing + " E"},
        {2, 1, "B A0:0 E"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.told);
        OneReader one;
        one.reader.statusFor['Y'] = row.blockStatus;
        const Bytes image = MakeImage(1064, 8, row.blocks);
        std::vector<UpgradeEvent> events;
        const auto upgrade = [&] {
            return one.session.Upgrade(image, [&](const UpgradeEvent& e) { events.push_back(e); });
        };
        if (row.blockStatus == 0) {
            EXPECT_TRUE(upgrade());
        } else {
            EXPECT_THROW(upgrade(), CommErr);
        }
        EXPECT_EQ(Told(events), row.told);
    }
}

TEST(SessionTest, ShowsTheResultOnTheReaderAsATransaction) {
    const struct {
        bool success;
        uint8_t status;
        int ignored;
        size_t sent;
        bool fails;
    } rows[] = {{true, 0, 0, 1, false}, {false, 0, 2, 3, false}, {true, 1, 0, 1, true}};
    for (const auto& row : rows) {
        OneReader one;
        one.reader.statusFor['L'] = row.status;
        one.reader.ignoreRequests = row.ignored;
        if (row.fails) {
            EXPECT_THROW(one.session.ShowResult(row.success), CommErr);
        } else {
            one.session.ShowResult(row.success);
        }
        const protocol::LFrame frame =
            protocol::BuildLFrame(row.success, !row.success, 0, row.success ? 0x03 : 0xFF);
        EXPECT_EQ(one.reader.requests,
                  std::vector<Bytes>(row.sent, Bytes(frame.begin(), frame.end())));
    }
}

}  // namespace
