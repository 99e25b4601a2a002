#include "update/manifest_fields.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

namespace {

bool isCWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

// Values beyond the 64-bit range would be undefined behaviour in a plain conversion.
std::int64_t truncateToInteger(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kTwoTo63 = 9223372036854775808.0;
  if (value >= kTwoTo63) return std::numeric_limits<std::int64_t>::max();
  if (value < -kTwoTo63) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value);
}

std::int64_t parseLeadingInteger(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && isCWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

  // Accumulate the magnitude unsigned; the negative limit is one larger than the positive one.
  const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
  std::uint64_t magnitude = 0;
  bool overflow = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (magnitude > (limit - digit) / 10) {
      overflow = true;
    } else {
      magnitude = magnitude * 10 + digit;
    }
  }
  if (overflow) return negative ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
  if (!negative) return static_cast<std::int64_t>(magnitude);
  // 0 - magnitude in unsigned arithmetic is the two's complement, also for 2^63.
  return static_cast<std::int64_t>(std::uint64_t{0} - magnitude);
}

std::int64_t readIntegerField(const nlohmann::json& object, const std::string& key) {
  const auto found = object.find(key);
  if (found == object.end()) return 0;
  const nlohmann::json& value = *found;
  switch (value.type()) {
    case nlohmann::json::value_t::number_integer:
      return value.get<std::int64_t>();
    case nlohmann::json::value_t::number_unsigned:
      return static_cast<std::int64_t>(value.get<std::uint64_t>());
    case nlohmann::json::value_t::number_float:
      return truncateToInteger(value.get<double>());
    case nlohmann::json::value_t::string:
      return parseLeadingInteger(value.get_ref<const std::string&>());
    default:
      return 0;
  }
}
