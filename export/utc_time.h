#pragma once
// UTC instants of saved points: the stored local time minus the stored offset.
#include <cstdint>
#include <optional>
#include <string>

#include "export/export_point.h"

namespace mapexport {

// Seconds since 1970-01-01T00:00:00Z, or nothing when the stored date or time is not a real
// one (month 13, 25 o'clock, 31 April, ...) or the instant falls outside the years 1-9999.
std::optional<int64_t> UtcSeconds(const LocalDateTime& local, int utcOffsetMinutes);

// "2015-04-01T00:05:07Z" (xsd:dateTime in UTC, as GPX and KML take it).
std::string UtcText(int64_t utcSeconds);

}  // namespace mapexport
