#include "update/manifest_fields.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

struct FieldCase {
  const char* object;  // JSON text of the manifest element
  std::int64_t value;  // what "size" reads as
};

TEST(ReadIntegerField, ReadsEveryJsonTypeLeniently) {
  const FieldCase cases[] = {
      {R"({})", 0},
      {R"({"Size": 5})", 0},  // keys are case-sensitive
      {R"({"size": 42})", 42},
      {R"({"size": -42})", -42},
      {R"({"size": 9223372036854775807})", kMax},
      {R"({"size": -9223372036854775808})", kMin},
      {R"({"size": 9223372036854775808})", kMin},     // unsigned above the signed range wraps
      {R"({"size": 18446744073709551615})", -1},
      {R"({"size": 3.9})", 3},
      {R"({"size": -3.9})", -3},
      {R"({"size": 0.5})", 0},
      {R"({"size": 1e300})", kMax},  // beyond the range: clamped instead of undefined
      {R"({"size": -1e300})", kMin},
      {R"({"size": "12"})", 12},
      {R"({"size": "  -7abc"})", -7},
      {R"({"size": "+5"})", 5},
      {R"({"size": "\t\n\r\f\u000b 8"})", 8},
      {R"({"size": "1.9"})", 1},
      {R"({"size": "1e5"})", 1},
      {R"({"size": "0x10"})", 0},
      {R"({"size": "abc"})", 0},
      {R"({"size": ""})", 0},
      {R"({"size": "-"})", 0},
      {R"({"size": "- 5"})", 0},
      {R"({"size": "\u00a05"})", 0},  // a non-ASCII blank is no white space
      {R"({"size": "9223372036854775807"})", kMax},
      {R"({"size": "9223372036854775808"})", kMax},  // too large: the nearest limit, as strtoll
      {R"({"size": "99999999999999999999999"})", kMax},
      {R"({"size": "-9223372036854775808"})", kMin},
      {R"({"size": "-9223372036854775809"})", kMin},
      {R"({"size": true})", 0},
      {R"({"size": false})", 0},
      {R"({"size": null})", 0},
      {R"({"size": [1]})", 0},
      {R"({"size": {"value": 1}})", 0},
  };
  for (const FieldCase& c : cases) {
    EXPECT_EQ(readIntegerField(nlohmann::json::parse(c.object), "size"), c.value) << c.object;
  }
}

TEST(ReadIntegerField, NonObjectGivesZero) {
  EXPECT_EQ(readIntegerField(nlohmann::json::parse("[1, 2]"), "size"), 0);
  EXPECT_EQ(readIntegerField(nlohmann::json::parse("7"), "size"), 0);
}

}  // namespace
