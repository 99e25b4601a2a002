#pragma once

#include <string>

// A warning box with one OK button, captioned with the launcher's title in the run's
// language; returns when the user has dismissed it. Without a display (Linux) the caption
// and text go to standard error instead.
void showWarningMessage(bool chinese, const std::string& text);
