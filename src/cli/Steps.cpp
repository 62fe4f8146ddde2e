#include "Steps.h"

#include <fmt/format.h>

#include "Catalogue.h"
#include "Failure.h"
#include "Profile.h"

namespace cli {

void CheckIntact(upgrade::Image image) {
    if (!upgrade::IsIntact(image)) {
        throw Failure(kExitBadInput, "bad_image",
                      Tr("Upgrade file error. (the image fails its integrity check)"));
    }
}

session::ImageVerdict JudgeImage(const session::ReaderSession& reader,
                                 std::optional<upgrade::Image> given) {
    const session::ImageVerdict verdict =
        reader.Judge(given ? std::optional(upgrade::Offer{*given, ""})
                           : upgrade::BuiltInImageFor(reader.Reader().typeCode));
    if (verdict.offer) CheckIntact(verdict.offer->image);
    if (verdict.kind == session::ImageVerdict::Kind::WrongType) {
        throw Failure(kExitBadInput, "bad_image",
                      Say("the image is for reader type {}, the reader is of type {}",
                          verdict.imageType, verdict.readerType));
    }
    return verdict;
}

void UpgradeAndVerify(session::ReaderSession& reader, upgrade::Image image,
                      const session::UpgradeEvents& events) {
    if (!reader.Upgrade(image, events)) {
        throw Failure(kExitVerify, Tr("the reader did not answer after the upgrade"));
    }
    const uint16_t firmware = reader.Reader().firmwareVersion;
    if (firmware != upgrade::Version(image)) {
        throw Failure(kExitVerify, Say("after the upgrade the reader reports firmware {}, not {}",
                                       firmware, upgrade::Version(image)));
    }
}

void WriteAndVerify(session::ReaderSession& reader, const ReaderConfig& record) {
    const ReaderConfig back = reader.WriteAndReadBack(record);
    if (back != record) {
        throw Failure(kExitVerify,
                      Say("read back {} after writing {}", HexBytes(back.data(), back.size()),
                          HexBytes(record.data(), record.size())));
    }
}

}  // namespace cli
