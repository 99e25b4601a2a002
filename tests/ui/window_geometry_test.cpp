#include "ui/window_geometry.h"

#include <gtest/gtest.h>

namespace {

using ui::WidgetBox;

void expectBox(const WidgetBox& actual, const WidgetBox& expected, const char* name) {
  EXPECT_EQ(actual.x, expected.x) << name;
  EXPECT_EQ(actual.y, expected.y) << name;
  EXPECT_EQ(actual.width, expected.width) << name;
  EXPECT_EQ(actual.height, expected.height) << name;
}

struct GeometryCase {
  int dpi;
  int width;
  int height;
  WidgetBox status;
  WidgetBox percent;
  WidgetBox bar;
  int textSize;
};

TEST(WindowGeometry, EveryLengthIsScaledOnItsOwnAndRoundedHalfUp) {
  const GeometryCase cases[] = {
      {96, 800, 461, {44, 378, 648, 20}, {692, 378, 64, 20}, {44, 410, 712, 9}, 13},
      // s = 1.25: 576.25 + 0.5 truncates to 576; 472.5 + 0.5 gives 473; 11.25 + 0.5 gives 11.
      {120, 1000, 576, {55, 473, 810, 25}, {865, 473, 80, 25}, {55, 513, 890, 11}, 16},
      // s = 1.5: 691.5 + 0.5 gives 692; 13.5 + 0.5 gives 14; 19.5 + 0.5 gives 20.
      {144, 1200, 692, {66, 567, 972, 30}, {1038, 567, 96, 30}, {66, 615, 1068, 14}, 20},
  };
  for (const GeometryCase& c : cases) {
    SCOPED_TRACE(c.dpi);
    const ui::WindowGeometry g = ui::windowGeometry(c.dpi);
    EXPECT_EQ(g.width, c.width);
    EXPECT_EQ(g.height, c.height);
    expectBox(g.status, c.status, "status");
    expectBox(g.percent, c.percent, "percent");
    expectBox(g.bar, c.bar, "bar");
    EXPECT_EQ(g.textSize, c.textSize);
  }
}

TEST(WindowGeometry, FirstPlacementCentresInTheAreaAndNeverGoesNegative) {
  struct Case {
    int areaWidth, areaHeight, width, height, x, y;
  };
  const Case cases[] = {
      {1280, 800, 800, 461, 240, 169},
      {1281, 801, 800, 461, 240, 170},  // halves truncate
      {800, 461, 800, 461, 0, 0},
      {640, 400, 800, 461, 0, 0},       // a screen smaller than the window
      {1920, 300, 800, 461, 560, 0},
  };
  for (const Case& c : cases) {
    const ui::WindowPosition at = ui::centredInArea(c.areaWidth, c.areaHeight, c.width, c.height);
    EXPECT_EQ(at.x, c.x) << c.areaWidth << "x" << c.areaHeight;
    EXPECT_EQ(at.y, c.y) << c.areaWidth << "x" << c.areaHeight;
  }
}

TEST(WindowGeometry, BarFillIsClampedAndNeverNarrowerThanTheBarIsHigh) {
  struct Case {
    float value, maximum;
    int fill;
  };
  const Case cases[] = {
      {0, 0, 0},          // no maximum: only the track
      {5, 0, 0},
      {1, 1000, 0},       // 0.712 pixels: nothing drawn
      {2, 1000, 9},       // 1 pixel by the ratio, drawn as wide as the bar is high
      {12, 1000, 9},      // 8 pixels
      {13, 1000, 9},      // 9 pixels
      {14, 1000, 9},      // 9.968 pixels
      {15, 1000, 10},
      {1, 3, 237},
      {2, 3, 474},
      {3, 3, 712},
      {4, 3, 712},        // above the maximum: a full bar
      {-1, 3, 0},         // negative: only the track
      {1, -3, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ui::barFillWidth(c.value, c.maximum, 712, 9), c.fill) << c.value << " of " << c.maximum;
  }
}

}  // namespace
