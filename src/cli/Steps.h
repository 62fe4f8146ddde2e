#pragma once

#include <optional>

#include "ReaderConfig.h"
#include "UpgradeTransfer.h"

class SerialServices;
class Zantor50;

// The steps that the commands and the station share, each ending in Failure
// when its result cannot be trusted.
namespace cli {

// The image for the identified reader: the given one, else the built-in one for
// its type; nothing when there is neither.
std::optional<upgrade::Image> CandidateImage(const Zantor50& link,
                                             std::optional<upgrade::Image> given);

// The candidate when the reader is due for it, as the window decides: newer than
// the firmware, and a stand-in image only over a stand-in line.
std::optional<upgrade::Image> ImageDue(const Zantor50& link,
                                       std::optional<upgrade::Image> candidate);

// Refuses (bad input) an image that fails the integrity check or is made for
// another type of reader than the one identified.
void CheckImage(upgrade::Image image, const Zantor50& link);

// Transfers the image and checks that the reader then reports its version.
void UpgradeAndVerify(Zantor50& link, SerialServices& services, upgrade::Image image,
                      upgrade::Progress& progress);

// Writes the record with its seal, reads it back and compares.
void WriteAndVerify(Zantor50& link, const ReaderConfig& record);

}  // namespace cli
