#pragma once

#include <optional>

#include "ReaderConfig.h"
#include "ReaderSession.h"

// What the commands and the station conclude from the session's steps, each
// ending in Failure when its result cannot be trusted.
namespace cli {

// Refuses (bad input) an image that fails the integrity check.
void CheckIntact(upgrade::Image image);
// The verdict on the image for the identified reader: the given one, else the
// built-in one for its type. Refuses (bad input) an image that fails the
// integrity check or is made for another type of reader.
session::ImageVerdict JudgeImage(const session::ReaderSession& reader,
                                 std::optional<upgrade::Image> given);

// Upgrades the reader and checks that it then reports the image's version.
void UpgradeAndVerify(session::ReaderSession& reader, upgrade::Image image,
                      const session::UpgradeEvents& events);

// Writes the record with its seal, reads it back and compares.
void WriteAndVerify(session::ReaderSession& reader, const ReaderConfig& record);

}  // namespace cli
