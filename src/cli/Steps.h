#pragma once

#include <optional>

#include "ReaderConfig.h"
#include "UpgradeTransfer.h"

class SerialServices;
class Zantor50;

// The steps that the commands and the station share, each ending in Failure
// when its result cannot be trusted.
namespace cli {

// The built-in image for the identified reader, when there is one.
std::optional<upgrade::Image> BuiltInImage(const Zantor50& link);

// Refuses (bad input) an image that fails the integrity check or is made for
// another type of reader than the one identified.
void CheckImage(upgrade::Image image, const Zantor50& link);

// Transfers the image and checks that the reader then reports its version.
void UpgradeAndVerify(Zantor50& link, SerialServices& services, upgrade::Image image,
                      upgrade::Progress& progress);

// Writes the record with its seal, reads it back and compares.
void WriteAndVerify(Zantor50& link, const ReaderConfig& record);

}  // namespace cli
