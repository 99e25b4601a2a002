#include "ui/warning_message.h"

#include <FL/Fl.H>
#include <FL/fl_ask.H>

#include "platform/text.h"
#include "platform/window.h"
#include "ui/toolkit_display.h"
#include "ui/ui_font.h"
#include "ui/ui_text.h"

// Where the system has no message box of its own, the toolkit's alert stands in for it,
// with the same caption and a localised OK button.
void showWarningMessage(bool chinese, const std::string& text) {
  const char* caption = uiText(chinese, UiText::LauncherTitle);
  if (!ui::openToolkitDisplay()) {
    platform::showWarningBox(caption, text);
    return;
  }
  // Like the Windows box: a text that is not valid UTF-8 is shown empty.
  platform::NativeString shown;
  if (!platform::fromUtf8Strict(text, shown)) shown.clear();

  ui::useUiFont();
  fl_message_font(static_cast<Fl_Font>(0), 14);
  fl_message_title(caption);
  fl_close = uiText(chinese, UiText::OkButton);
  fl_alert("%s", shown.c_str());
}
