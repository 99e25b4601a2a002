#pragma once

// Where the progress window's parts lie, as pure functions of the screen's DPI.
namespace ui {

// The scale factor for a horizontal logical DPI: DPI / 96.
float scaleForDpi(int dpi);

// S(v): a length of v pixels at 96 DPI, at scale `scale`: the integer part of v × s + 0.5,
// computed in 32-bit float.
int scaled(float scale, int v);

struct WidgetBox {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct WindowGeometry {
  int width = 0;      // W = S(800)
  int height = 0;     // H = S(461)
  WidgetBox status;   // M, S(378), W - 2M - P, T
  WidgetBox percent;  // W - P - M, S(378), P, T
  WidgetBox bar;      // M, S(410), W - 2M, S(9)
  int textSize = 0;   // S(13)
};

// Every length goes through S on its own; widths derived from others use the scaled values.
WindowGeometry windowGeometry(int dpi);

struct WindowPosition {
  int x = 0;
  int y = 0;
};

// The first placement: centred in an area of the given size (integer division truncating
// toward zero), a negative coordinate becoming 0.
WindowPosition centredInArea(int areaWidth, int areaHeight, int width, int height);

// The width of the bar's fill for `value` of `maximum` on a bar of the given size: 0 means
// no fill. The ratio is clamped to 0..1 (0 when maximum is not positive); a fill narrower
// than the bar is high is drawn as wide as the bar is high.
int barFillWidth(float value, float maximum, int width, int height);

}  // namespace ui
