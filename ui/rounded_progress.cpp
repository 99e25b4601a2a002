#include "ui/rounded_progress.h"

#include <FL/fl_draw.H>

#include "ui/progress_colours.h"
#include "ui/window_geometry.h"

namespace ui {

RoundedProgress::RoundedProgress(int x, int y, int width, int height) : Fl_Widget(x, y, width, height) {}

RoundedProgress::~RoundedProgress() = default;

void RoundedProgress::draw() {
  fl_draw_box(FL_RFLAT_BOX, x(), y(), w(), h(), static_cast<Fl_Color>(kTrackColour));
  const int fill = barFillWidth(value, maximum, w(), h());
  if (fill <= 0) return;
  fl_draw_box(FL_RFLAT_BOX, x(), y(), fill, h(), static_cast<Fl_Color>(kAccentColour));
}

}  // namespace ui
