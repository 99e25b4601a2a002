#include "ui/progress_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Image.H>
#include <FL/Fl_PNG_Image.H>

#include <memory>
#include <thread>
#include <vector>

#include "platform/toolkit_window.h"
#include "platform/window.h"
#include "ui/drag_window.h"
#include "ui/progress_colours.h"
#include "ui/progress_state.h"
#include "ui/rounded_progress.h"
#include "ui/ui_font.h"
#include "ui/ui_text.h"
#include "ui/window_geometry.h"

namespace ui {

namespace {

constexpr double kPollSeconds = 0.05;

Fl_Color colour(std::uint32_t value) { return static_cast<Fl_Color>(value); }

// The worker thread of one window. Joined on every way out: should the main thread leave
// early (an exception), the task is asked to cancel first so that the join cannot hang.
class WorkerThread {
 public:
  WorkerThread(const ProgressTask& task, SharedState& state)
      : state_(state), thread_(workerMain, std::cref(task), std::ref(state)) {}
  ~WorkerThread() {
    if (!thread_.joinable()) return;
    state_.requestCancel();
    thread_.join();
  }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  void join() { thread_.join(); }

 private:
  SharedState& state_;
  std::thread thread_;
};

// The window and its widgets, torn down in a fixed order: the scaled background first, then
// the bar, the percentage, the status line, the background box, the window, and last the
// icons the window system was given (they must outlive the window).
struct ProgressWidgets {
  platform::WindowDecorationOwner decoration;
  std::unique_ptr<DragWindow> window;
  std::unique_ptr<Fl_Box> backgroundBox;
  std::unique_ptr<Fl_Box> statusBox;
  std::unique_ptr<Fl_Box> percentBox;
  std::unique_ptr<RoundedProgress> bar;
  std::unique_ptr<Fl_Image> background;

  ProgressWidgets() = default;
  ProgressWidgets(const ProgressWidgets&) = delete;
  ProgressWidgets& operator=(const ProgressWidgets&) = delete;
  ~ProgressWidgets() {
    if (backgroundBox) backgroundBox->image(nullptr);
    background.reset();
    bar.reset();
    percentBox.reset();
    statusBox.reset();
    backgroundBox.reset();
    window.reset();
    decoration.reset();
  }
};

// What the poll timer works on; lives on runProgressWindow's stack.
struct ProgressView {
  ProgressPoll poll;
  ProgressWidgets& widgets;
};

// The background picture decoded and scaled to the window's size; null when the executable
// carries none or it does not decode. The full-size picture is released at once.
std::unique_ptr<Fl_Image> scaledBackground(int width, int height) {
  std::vector<unsigned char> png;
  if (!platform::loadBackgroundPng(png) || png.empty() || png.size() > 0x7fffffff) return nullptr;
  Fl_PNG_Image full("upgrade_bg", png.data(), static_cast<int>(png.size()));
  if (full.w() < 1 || full.h() < 1) return nullptr;
  Fl_RGB_Image::RGB_scaling(FL_RGB_SCALING_BILINEAR);
  return std::unique_ptr<Fl_Image>(full.copy(width, height));
}

// Where the toolkit sets the icon itself (not Windows), the executable's PNG icon.
void setToolkitIcon(Fl_Window& window) {
  std::vector<unsigned char> png;
  if (!platform::loadWindowIconPng(png) || png.empty() || png.size() > 0x7fffffff) return;
  const Fl_PNG_Image icon("kestrun_icon", png.data(), static_cast<int>(png.size()));
  if (icon.w() >= 1 && icon.h() >= 1) window.icon(&icon);  // the window keeps a copy
}

void buildWindow(ProgressWidgets& widgets, bool chinese, bool updating) {
  platform::enableDpiAwareness();
  const WindowGeometry g = windowGeometry(platform::screenDpi());
  useUiFont();
  const WindowPosition at = centredInArea(Fl::w(), Fl::h(), g.width, g.height);
  widgets.background = scaledBackground(g.width, g.height);

  const char* title = uiText(chinese, updating ? UiText::UpdateWindowTitle : UiText::InstallWindowTitle);
  widgets.window = std::make_unique<DragWindow>(at.x, at.y, g.width, g.height, title);
  widgets.window->color(colour(kWindowColour));
  widgets.window->border(0);
  widgets.window->xclass("Kestrun");  // how desktops group and name the window
  setToolkitIcon(*widgets.window);

  // Made in this order, so that each lies on top of the ones before.
  widgets.window->begin();
  widgets.backgroundBox = std::make_unique<Fl_Box>(0, 0, g.width, g.height);
  widgets.backgroundBox->box(FL_FLAT_BOX);
  widgets.backgroundBox->color(colour(kWindowColour));
  if (widgets.background) widgets.backgroundBox->image(widgets.background.get());

  widgets.statusBox = std::make_unique<Fl_Box>(g.status.x, g.status.y, g.status.width, g.status.height,
                                               uiText(chinese, UiText::PreparingDownload));
  widgets.statusBox->box(FL_NO_BOX);
  widgets.statusBox->labelfont(0);
  widgets.statusBox->labelsize(g.textSize);
  widgets.statusBox->labelcolor(colour(kStatusColour));
  widgets.statusBox->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);

  widgets.percentBox = std::make_unique<Fl_Box>(g.percent.x, g.percent.y, g.percent.width, g.percent.height, "");
  widgets.percentBox->box(FL_NO_BOX);
  widgets.percentBox->labelfont(1);
  widgets.percentBox->labelsize(g.textSize);
  widgets.percentBox->labelcolor(colour(kAccentColour));
  widgets.percentBox->align(FL_ALIGN_RIGHT | FL_ALIGN_INSIDE);

  widgets.bar = std::make_unique<RoundedProgress>(g.bar.x, g.bar.y, g.bar.width, g.bar.height);
  widgets.window->end();
  widgets.window->set_non_modal();
}

void showDisplay(ProgressView& view) {
  const ProgressDisplay& display = view.poll.display();
  ProgressWidgets& widgets = view.widgets;
  widgets.statusBox->copy_label(display.status.c_str());
  widgets.statusBox->labelcolor(colour(display.statusColour));
  widgets.percentBox->copy_label(display.percent.c_str());
  widgets.bar->maximum = display.barMaximum;
  widgets.bar->value = display.barValue;
  widgets.window->redraw();
}

void hideWindow(void* window) { static_cast<Fl_Window*>(window)->hide(); }

void pollSharedState(void* data) {
  ProgressView& view = *static_cast<ProgressView*>(data);
  const PollAction action = view.poll.run();
  if (action.redraw) showDisplay(view);
  if (action.rearm) Fl::repeat_timeout(kPollSeconds, pollSharedState, data);
  if (action.hideAfterSeconds > 0.0) Fl::add_timeout(action.hideAfterSeconds, hideWindow, view.widgets.window.get());
}

// Escape, Alt+F4 and the window manager's close command: cancel and hide at once. Hiding the
// only window ends the event loop; the worker sees the cancellation at its next check.
void onCloseRequest(Fl_Widget* window, void* state) {
  static_cast<SharedState*>(state)->requestCancel();
  window->hide();
}

bool runWithoutWindow(const ProgressTask& task) {
  SharedState state;
  WorkerThread worker(task, state);
  worker.join();
  return state.success();
}

}  // namespace

}  // namespace ui

bool runProgressWindow(bool chinese, bool updating, const ProgressTask& task) {
  using namespace ui;
  if (!platform::openToolkitDisplay()) return runWithoutWindow(task);

  ProgressWidgets widgets;
  buildWindow(widgets, chinese, updating);
  SharedState state;
  widgets.window->callback(onCloseRequest, &state);
  ProgressView view{ProgressPoll(state, chinese, updating), widgets};

  WorkerThread worker(task, state);  // throws std::system_error when no thread can start
  widgets.window->show();
  if (void* handle = platform::nativeWindowHandle(*widgets.window)) {
    widgets.decoration = platform::decorateShownWindow(handle);
  }

  Fl::add_timeout(kPollSeconds, pollSharedState, &view);
  Fl::run();
  // A later event loop (a warning box) must not run timers that point into this frame.
  Fl::remove_timeout(pollSharedState, &view);
  Fl::remove_timeout(hideWindow, widgets.window.get());
  // Send the hide to the window system now: the join below may take a while.
  Fl::flush();

  worker.join();
  return state.success();
}
