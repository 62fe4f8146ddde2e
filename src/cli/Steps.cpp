#include "Steps.h"

#include <fmt/format.h>

#include "Failure.h"
#include "Profile.h"
#include "Zantor50.h"

namespace cli {

std::optional<upgrade::Image> CandidateImage(const Zantor50& link,
                                             std::optional<upgrade::Image> given) {
    if (given) return given;
    const std::optional<upgrade::Offer> offer = upgrade::BuiltInImageFor(link.typeCode);
    if (!offer) return std::nullopt;
    return offer->image;
}

std::optional<upgrade::Image> ImageDue(const Zantor50& link,
                                       std::optional<upgrade::Image> candidate) {
    if (!candidate) return std::nullopt;
    const std::optional<upgrade::Offer> due = upgrade::UpgradeDue(
        upgrade::Offer{*candidate, ""}, link.firmwareVersion, link.OnStandInLine());
    if (!due) return std::nullopt;
    return due->image;
}

void CheckImage(upgrade::Image image, const Zantor50& link) {
    if (!upgrade::IsIntact(image)) {
        throw Failure(kExitBadInput, "Błąd pliku upgrade. (the image fails its integrity check)");
    }
    // A file for another type would leave the reader without working firmware.
    const uint16_t imageType = upgrade::TypeCode(image);
    if (imageType != link.typeCode) {
        throw Failure(kExitBadInput,
                      fmt::format("the image is for reader type {}, the reader is of type {}",
                                  imageType, link.typeCode));
    }
}

void UpgradeAndVerify(Zantor50& link, SerialServices& services, upgrade::Image image,
                      upgrade::Progress& progress) {
    const int port = link.OpenPortNumber();
    upgrade::Transfer(link, services, image, progress);
    // The restarted reader is asked on its own port only: another port may be
    // another reader's.
    if (!link.SelectPort(port) || !link.Identify()) {
        throw Failure(kExitVerify, "the reader did not answer after the upgrade");
    }
    if (link.firmwareVersion != upgrade::Version(image)) {
        throw Failure(kExitVerify,
                      fmt::format("after the upgrade the reader reports firmware {}, not {}",
                                  link.firmwareVersion, upgrade::Version(image)));
    }
}

void WriteAndVerify(Zantor50& link, const ReaderConfig& record) {
    link.WriteConfig(record);
    ReaderConfig back{};
    link.ReadConfig(back);
    if (back != record) {
        throw Failure(kExitVerify, fmt::format("read back {} after writing {}",
                                               HexBytes(back.data(), back.size()),
                                               HexBytes(record.data(), record.size())));
    }
}

}  // namespace cli
