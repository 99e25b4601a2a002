#pragma once

#include <cstdint>
#include <string>

// Moments as signature files write them: UTC to the second, in one form only,
// "2026-12-08T16:00:00Z", so that no reader can take them for local time or another zone.

// The text of `seconds` since 1970-01-01 UTC; years 1970 to 9999.
std::string formatUtcTime(std::int64_t seconds);

// The moment of a text in exactly that form (years 1970 to 9999, a real date, 'T' and 'Z'
// in capitals). False for anything else.
bool parseUtcTime(const std::string& text, std::int64_t& seconds);
