#pragma once

#include <cstdint>

// The progress window's colours as FLTK colour values: red, green and blue in the three high
// bytes, the low byte 0. Kept free of FLTK so that the poll's decisions can be tested alone.
namespace ui {

constexpr std::uint32_t kWindowColour = 0xeaf1fd00;         // (234, 241, 253)
constexpr std::uint32_t kStatusColour = 0x51586200;         // (81, 88, 98), also after a failure
constexpr std::uint32_t kStatusSuccessColour = 0x1f232900;  // (31, 35, 41)
constexpr std::uint32_t kAccentColour = 0x2979ff00;         // (41, 121, 255): percentage, bar fill
constexpr std::uint32_t kTrackColour = 0xd8e2f200;          // (216, 226, 242)

}  // namespace ui
