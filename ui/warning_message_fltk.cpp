#include "ui/warning_message.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Widget.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <string>

#include "platform/text.h"
#include "platform/toolkit_window.h"
#include "platform/window.h"
#include "ui/ui_font.h"
#include "ui/ui_text.h"
#include "ui/window_geometry.h"

// Where the system has no message box of its own, a toolkit window stands in for it: the
// launcher's title as caption, a warning sign, the text, and one OK button that Enter and
// Escape both dismiss, centred on the primary screen and drawn in the face that also
// draws Chinese.
namespace {

// Lengths at 96 DPI.
constexpr int kTextSize = 14;
constexpr int kMargin = 14;
constexpr int kSignSize = 36;
constexpr int kGap = 14;
constexpr int kMaxTextWidth = 420;
constexpr int kMinWidth = 320;
constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 28;
constexpr int kButtonPadding = 28;

// The yellow warning triangle with its exclamation mark, drawn without any font.
class WarningSign : public Fl_Widget {
 public:
  WarningSign(int x, int y, int size) : Fl_Widget(x, y, size, size) {}

 protected:
  void draw() override {
    const int left = x();
    const int top = y();
    const int size = w();
    fl_color(fl_rgb_color(250, 196, 20));
    fl_polygon(left + size / 2, top, left + size, top + size - 1, left, top + size - 1);
    fl_color(fl_rgb_color(140, 100, 0));
    fl_loop(left + size / 2, top, left + size, top + size - 1, left, top + size - 1);
    fl_color(FL_BLACK);
    const int barWidth = std::max(2, size / 9);
    const int barLeft = left + (size - barWidth) / 2;
    fl_rectf(barLeft, top + size * 3 / 10, barWidth, size * 4 / 10);
    fl_rectf(barLeft, top + size * 78 / 100, barWidth, barWidth);
  }
};

// The message, wrapped to its box. Drawn as plain text: an '@' in it is not a symbol.
class MessageText : public Fl_Widget {
 public:
  MessageText(int x, int y, int width, int height, const std::string& text, int textSize)
      : Fl_Widget(x, y, width, height), text_(text) {
    labelsize(textSize);
  }

 protected:
  void draw() override {
    fl_font(labelfont(), labelsize());
    fl_color(FL_FOREGROUND_COLOR);
    fl_draw(text_.c_str(), x(), y(), w(), h(), FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP,
            nullptr, 0);
  }

 private:
  std::string text_;
};

void hideWindow(Fl_Widget* widget, void*) {
  Fl_Window* window = widget->as_window() ? widget->as_window() : widget->window();
  if (window) window->hide();
}

}  // namespace

void showWarningMessage(bool chinese, const std::string& text) {
  const char* caption = uiText(chinese, UiText::LauncherTitle);
  if (!platform::openToolkitDisplay()) {
    platform::showWarningBox(caption, text);
    return;
  }
  // Like the Windows box: a text that is not valid UTF-8 is shown empty.
  platform::NativeString shown;
  if (!platform::fromUtf8Strict(text, shown)) shown.clear();

  ui::useUiFont();
  const float scale = ui::scaleForDpi(platform::screenDpi());
  const auto S = [scale](int length) { return ui::scaled(scale, length); };
  const int textSize = S(kTextSize);
  const char* okText = uiText(chinese, UiText::OkButton);

  // The text is measured wrapped at the widest line allowed; shorter texts keep their width.
  fl_font(static_cast<Fl_Font>(0), textSize);
  int textWidth = S(kMaxTextWidth);
  int textHeight = 0;
  fl_measure(shown.c_str(), textWidth, textHeight, 0);
  int okWidth = 0;
  int okHeight = 0;
  fl_measure(okText, okWidth, okHeight, 0);
  const int buttonWidth = std::max(S(kButtonWidth), okWidth + S(kButtonPadding));
  const int buttonHeight = std::max(S(kButtonHeight), okHeight + S(8));

  const int textX = S(kMargin) + S(kSignSize) + S(kGap);
  const int contentHeight = std::max(textHeight, S(kSignSize));
  const int width = std::max({textX + textWidth + S(kMargin), S(kMinWidth), buttonWidth + 2 * S(kMargin)});
  const int buttonY = S(kMargin) + contentHeight + S(kGap);
  const int height = buttonY + buttonHeight + S(kMargin);

  int screenX = 0;
  int screenY = 0;
  int screenWidth = 0;
  int screenHeight = 0;
  Fl::screen_work_area(screenX, screenY, screenWidth, screenHeight, 0);
  const ui::WindowPosition at = ui::centredInArea(screenWidth, screenHeight, width, height);

  {
    // Declared first, so destroyed last: the widgets below belong to it.
    Fl_Double_Window window(screenX + at.x, screenY + at.y, width, height, caption);
    window.xclass("Kestrun");
    // The close button of the frame, and Escape, which the toolkit turns into the same call.
    window.callback(hideWindow);
    WarningSign sign(S(kMargin), S(kMargin), S(kSignSize));
    // A one-line text stands level with the sign's middle.
    const int textY = S(kMargin) + std::max(0, (S(kSignSize) - textHeight) / 2);
    MessageText message(textX, textY, textWidth, textHeight, shown, textSize);
    message.labelfont(static_cast<Fl_Font>(0));
    // Fl_Return_Button answers Enter (and the keypad's Enter) wherever the focus is.
    Fl_Return_Button ok(width - S(kMargin) - buttonWidth, buttonY, buttonWidth, buttonHeight, okText);
    ok.labelfont(static_cast<Fl_Font>(0));
    ok.labelsize(textSize);
    ok.callback(hideWindow);
    window.end();
    window.set_modal();

    window.show();
    ok.take_focus();
    while (window.shown()) Fl::wait();
  }
  // The window's removal is still queued in the display connection; without this it stays
  // on the screen while the run goes on.
  Fl::flush();
}
