#pragma once

#include <string>

// A warning box with one OK button, captioned with the launcher's title in the run's
// language; returns when the user has dismissed it. On Linux the box is centred on the
// primary screen, drawn in the face that also draws Chinese, and Enter or Escape dismisses
// it; without a display the caption and text go to standard error instead.
void showWarningMessage(bool chinese, const std::string& text);
