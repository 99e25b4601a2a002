#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json_fwd.hpp>

// Containers open at once in a manifest; every reader refuses deeper nesting as malformed,
// with this text after "更新清单解析失败：".
inline constexpr std::size_t kMaxManifestDepth = 64;
inline constexpr const char* kManifestTooDeepText = "JSON 嵌套超过 64 层";

// A number of a manifest object, read leniently: an absent key, null, a boolean, an array or
// an object give 0; integers are taken as signed 64-bit (an unsigned value above that range
// wraps to negative); a floating-point value is truncated toward zero (clamped to the 64-bit
// range, NaN gives 0); a string gives the decimal number at its start after leading white
// space and an optional sign, 0 without digits, and the nearest 64-bit limit when too large.
std::int64_t readIntegerField(const nlohmann::json& object, const std::string& key);

// The decimal number at the start of `text`, read the way strtoll reads base 10.
std::int64_t parseLeadingInteger(const std::string& text);

// A floating-point number truncated toward zero, stopping at the 64-bit limits; NaN gives 0.
std::int64_t truncateToInteger(double value);
