#pragma once

#include <string>

namespace cli {

// Now in ISO 8601, UTC: "2026-12-08T09:55:01Z", or with milliseconds
// "2026-12-08T09:55:01.123Z".
std::string IsoTimeNow(bool milliseconds);

}  // namespace cli
