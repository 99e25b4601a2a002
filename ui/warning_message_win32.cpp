#include "ui/warning_message.h"

#include "platform/window.h"
#include "ui/ui_text.h"

void showWarningMessage(bool chinese, const std::string& text) {
  platform::showWarningBox(uiText(chinese, UiText::LauncherTitle), text);
}
