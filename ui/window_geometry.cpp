#include "ui/window_geometry.h"

#include <algorithm>

namespace ui {

float scaleForDpi(int dpi) { return static_cast<float>(dpi) / 96.0f; }

int scaled(float scale, int v) { return static_cast<int>(static_cast<float>(v) * scale + 0.5f); }

WindowGeometry windowGeometry(int dpi) {
  const float s = scaleForDpi(dpi);
  WindowGeometry g;
  g.width = scaled(s, 800);
  g.height = scaled(s, 461);
  const int margin = scaled(s, 44);
  const int percentWidth = scaled(s, 64);
  const int textHeight = scaled(s, 20);
  const int textRow = scaled(s, 378);
  g.status = {margin, textRow, g.width - 2 * margin - percentWidth, textHeight};
  g.percent = {g.width - percentWidth - margin, textRow, percentWidth, textHeight};
  g.bar = {margin, scaled(s, 410), g.width - 2 * margin, scaled(s, 9)};
  g.textSize = scaled(s, 13);
  return g;
}

WindowPosition centredInArea(int areaWidth, int areaHeight, int width, int height) {
  return {std::max(0, (areaWidth - width) / 2), std::max(0, (areaHeight - height) / 2)};
}

int barFillWidth(float value, float maximum, int width, int height) {
  const float ratio = maximum > 0.0f ? value / maximum : 0.0f;
  if (!(ratio > 0.0f)) return 0;  // also a ratio that is not a number
  const int fill = static_cast<int>(std::min(ratio, 1.0f) * static_cast<float>(width));
  if (fill <= 0) return 0;
  return std::max(fill, height);
}

}  // namespace ui
