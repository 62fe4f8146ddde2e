#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "UpgradeImage.h"

namespace upgrade {
namespace {

// An image of the given header fields and length; its bytes count upwards so
// that every pointer into it can be told apart.
std::vector<uint8_t> MakeImage(uint16_t blockCount, size_t length, uint16_t word6 = 0) {
    std::vector<uint8_t> image(length);
    for (size_t i = 0; i < length; ++i) image[i] = static_cast<uint8_t>(i * 7 + 1);
    const uint8_t header[8] = {0x04,
                               0x28,
                               0x07,
                               0x00,
                               static_cast<uint8_t>(blockCount & 0xFF),
                               static_cast<uint8_t>(blockCount >> 8),
                               static_cast<uint8_t>(word6 & 0xFF),
                               static_cast<uint8_t>(word6 >> 8)};
    for (size_t i = 0; i < 8 && i < length; ++i) image[i] = header[i];
    return image;
}

// ---- Integrity check ----------------------------------------------------

struct IntegrityRow {
    const char* name;
    uint16_t blockCount;
    size_t length;
    uint16_t word6;
    bool intact;
};

class IsIntactTest : public testing::TestWithParam<IntegrityRow> {};

TEST_P(IsIntactTest, ChecksWord6AndLength) {
    const IntegrityRow& row = GetParam();
    const std::vector<uint8_t> image = MakeImage(row.blockCount, row.length, row.word6);
    EXPECT_EQ(IsIntact(image), row.intact);
}

INSTANTIATE_TEST_SUITE_P(Images, IsIntactTest,
                         testing::Values(IntegrityRow{"FourteenBlocks", 14, 9376, 0, true},
                                         IntegrityRow{"SixteenBlocks", 16, 10416, 0, true},
                                         IntegrityRow{"NoBlocks", 0, 2096, 0, true},
                                         IntegrityRow{"OneByteShort", 14, 9375, 0, false},
                                         IntegrityRow{"OneByteLong", 14, 9377, 0, false},
                                         IntegrityRow{"OneBlockMissing", 14, 8856, 0, false},
                                         IntegrityRow{"TableMissing", 14, 7296, 0, false},
                                         IntegrityRow{"Word6LowByteSet", 14, 9376, 0x0001, false},
                                         IntegrityRow{"Word6HighByteSet", 14, 9376, 0x0100, false},
                                         IntegrityRow{"HugeBlockCount", 0xFFFF, 9376, 0, false},
                                         IntegrityRow{"HeaderOnly", 0, 16, 0, false},
                                         IntegrityRow{"FifteenBytes", 0, 15, 0, false},
                                         IntegrityRow{"SevenBytes", 0, 7, 0, false},
                                         IntegrityRow{"OneByte", 0, 1, 0, false},
                                         IntegrityRow{"Empty", 0, 0, 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Parts of an image --------------------------------------------------

TEST(ImagePartsTest, HeaderAndBlocksLieWhereTheLayoutSays) {
    const std::vector<uint8_t> image = MakeImage(14, 9376);
    EXPECT_EQ(Version(image), 7);
    EXPECT_EQ(BlockCount(image), 14);
    EXPECT_EQ(Header(image), image.data());
    EXPECT_EQ(Block(image, 0), image.data() + 16);
    EXPECT_EQ(Block(image, 1), image.data() + 536);
    EXPECT_EQ(Block(image, 13), image.data() + 16 + 520 * 13);
    EXPECT_EQ(Block(image, 14), nullptr);
}

TEST(ImagePartsTest, NothingIsReadBeyondAShortImage) {
    const std::vector<uint8_t> image = MakeImage(14, 600);
    EXPECT_EQ(Header(image), image.data());
    EXPECT_EQ(Block(image, 0), image.data() + 16);
    EXPECT_EQ(Block(image, 1), nullptr);
    EXPECT_EQ(SerialRecord(image, 313), nullptr);

    const std::vector<uint8_t> tiny = MakeImage(0, 3);
    EXPECT_EQ(Header(tiny), nullptr);
    EXPECT_EQ(Version(tiny), 0);
    EXPECT_EQ(BlockCount(tiny), 0);
    EXPECT_EQ(Block(tiny, 0), nullptr);
    EXPECT_EQ(SerialRecord(tiny, 0), nullptr);
}

// ---- Per-serial record --------------------------------------------------

struct RecordRow {
    const char* name;
    uint16_t serialNumber;
    size_t tableOffset;
};

class SerialRecordTest : public testing::TestWithParam<RecordRow> {};

TEST_P(SerialRecordTest, LowByteChoosesGroupAndRecord) {
    const RecordRow& row = GetParam();
    EXPECT_EQ(SerialRecordOffset(row.serialNumber), row.tableOffset);

    const std::vector<uint8_t> image = MakeImage(14, 9376);
    EXPECT_EQ(SerialRecord(image, row.serialNumber),
              image.data() + 16 + 520 * 14 + row.tableOffset);
}

INSTANTIATE_TEST_SUITE_P(Serials, SerialRecordTest,
                         testing::Values(RecordRow{"Serial313Group0Record57", 313, 456},
                                         RecordRow{"Serial453Group3Record5", 453, 1600},
                                         RecordRow{"Serial256SameAsSerial0", 256, 0},
                                         RecordRow{"Serial0", 0, 0},
                                         RecordRow{"LastRecordOfGroup0", 63, 504},
                                         RecordRow{"FirstRecordOfGroup1", 64, 520},
                                         RecordRow{"LastSelectableRecord", 255, 2064},
                                         RecordRow{"OnlyLowByteCounts", 0xFF39, 456}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The images built into the program -----------------------------------

struct BuiltInRow {
    const char* name;
    uint16_t typeCode;
    const char* caption;
    uint8_t typeHigh;
    uint8_t typeLow;
    uint16_t version;
    uint16_t blockCount;
    size_t length;
    int barMaximum;
    bool standIn;
};

class BuiltInImageTest : public testing::TestWithParam<BuiltInRow> {};

TEST_P(BuiltInImageTest, HasTheLayoutOfItsReaderType) {
    const BuiltInRow& row = GetParam();
    const std::optional<Offer> offer = BuiltInImageFor(row.typeCode);
    ASSERT_TRUE(offer.has_value());
    EXPECT_STREQ(offer->caption, row.caption);
    ASSERT_EQ(offer->image.size(), row.length);
    EXPECT_EQ(offer->image[0], row.typeHigh);
    EXPECT_EQ(offer->image[1], row.typeLow);
    EXPECT_EQ(TypeCode(offer->image), row.typeCode);
    EXPECT_EQ(Version(offer->image), row.version);
    EXPECT_EQ(BlockCount(offer->image), row.blockCount);
    EXPECT_TRUE(IsIntact(offer->image));
    EXPECT_EQ(BlocksBarMaximum(row.blockCount), row.barMaximum);
    EXPECT_EQ(IsStandIn(offer->image), row.standIn);
}

INSTANTIATE_TEST_SUITE_P(Readers, BuiltInImageTest,
                         testing::Values(BuiltInRow{"Zantor40", 1064, "Upgrade ZANTOR-40", 0x04,
                                                    0x28, 7, 14, 9376, 23, true},
                                         BuiltInRow{"Zantor50", 2098, "Upgrade ZANTOR-50", 0x08,
                                                    0x32, 8, 16, 10416, 26, true}),
                         [](const auto& info) { return std::string(info.param.name); });

class NoBuiltInImageTest : public testing::TestWithParam<uint16_t> {};

TEST_P(NoBuiltInImageTest, OtherTypeCodesHaveNone) {
    EXPECT_FALSE(BuiltInImageFor(GetParam()).has_value());
}

INSTANTIATE_TEST_SUITE_P(TypeCodes, NoBuiltInImageTest,
                         testing::Values(0, 40, 50, 1063, 1065, 2097, 2099, 0x2804, 0xFFFF));

}  // namespace
}  // namespace upgrade
