// The Mac's clock: seconds since 1904-01-01 on the local time of the Mac
// that wrote them, which no file says; they are read as UTC, so a date shows
// the wall clock its author saw.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mactext {

// A Macintosh date as Unix seconds; none for 0, which the Finder writes for
// "unknown".
std::optional<int64_t> mac_date(uint32_t seconds);

// Unix seconds as "YYYY-MM-DDTHH:MM:SS" (UTC), without the system's
// calendar, so that any date of any container shows the same everywhere.
std::string iso_date(int64_t unix_seconds);

}  // namespace mactext
