#pragma once

#include <functional>

namespace ui {

// What the download task sees of the progress window: it reports counts and learns of a
// cancellation. Both calls are safe from the worker thread.
class ProgressController {
 public:
  virtual ~ProgressController() = default;
  virtual void setProgress(int current, int total) = 0;
  virtual bool cancelRequested() const = 0;
};

}  // namespace ui

// The work that runs on the worker thread while the window is open; true = success.
using ProgressTask = std::function<bool(ui::ProgressController&)>;
