#pragma once

#include <FL/Fl_Widget.H>

namespace ui {

// A thin bar with rounded ends: a track over the whole widget and a fill for value / maximum.
// It draws no box and no label and takes no events. The owner sets `value` and `maximum`
// directly and then redraws.
class RoundedProgress : public Fl_Widget {
 public:
  RoundedProgress(int x, int y, int width, int height);
  ~RoundedProgress() override;

  float value = 0.0f;
  float maximum = 0.0f;

 protected:
  void draw() override;
};

}  // namespace ui
