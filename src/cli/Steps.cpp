#include "Steps.h"

#include <fmt/format.h>

#include "Catalogue.h"
#include "Failure.h"
#include "Profile.h"

namespace cli {

std::optional<upgrade::Offer> CandidateImage(const Zantor50& link,
                                             std::optional<upgrade::Image> given) {
    if (given) return upgrade::Offer{*given, ""};
    return upgrade::BuiltInImageFor(link.typeCode);
}

void CheckIntact(upgrade::Image image) {
    if (!upgrade::IsIntact(image)) {
        throw Failure(kExitBadInput, "bad_image",
                      Tr("Upgrade file error. (the image fails its integrity check)"));
    }
}

void CheckImage(upgrade::Image image, const Zantor50& link) {
    CheckIntact(image);
    // A file for another type would leave the reader without working firmware.
    const uint16_t imageType = upgrade::TypeCode(image);
    if (imageType != link.typeCode) {
        throw Failure(kExitBadInput, "bad_image",
                      Say("the image is for reader type {}, the reader is of type {}", imageType,
                          link.typeCode));
    }
}

void UpgradeAndVerify(session::ReaderSession& reader, upgrade::Image image,
                      const session::UpgradeEvents& events) {
    if (!reader.Upgrade(image, events)) {
        throw Failure(kExitVerify, Tr("the reader did not answer after the upgrade"));
    }
    const uint16_t firmware = reader.Link().firmwareVersion;
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
