#pragma once

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

// Looking at and poking the test's X display from outside the toolkit, through xdotool and
// ImageMagick's import, as a user's tools would.
namespace uitest {

// True when DISPLAY names an X server that answers. Keeps a connection to it open.
bool haveDisplay();

// Runs a shell command; true when it exits with 0. Its standard output goes to `output`.
bool run(const std::string& command, std::string* output = nullptr);

// Checks `condition` every 50 ms until it holds or `seconds` have passed.
bool waitFor(const std::function<bool()>& condition, double seconds = 20.0);

// The first visible top-level window whose title matches the regular expression `title`;
// "" when there is none. xdotool matches the Latin-1 title property, so a pattern should
// keep to ASCII; compare a full title with windowTitle.
std::string findVisibleWindow(const std::string& title);

// The window's title as UTF-8.
std::string windowTitle(const std::string& windowId);

struct ScreenBox {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};
bool windowBox(const std::string& windowId, ScreenBox& box);
bool screenSize(int& width, int& height);

struct Rgb {
  int r = 0;
  int g = 0;
  int b = 0;
  bool operator==(const Rgb& other) const { return r == other.r && g == other.g && b == other.b; }
};

std::ostream& operator<<(std::ostream& out, const Rgb& colour);

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
  Rgb at(int x, int y) const;
};

// The window's pixels as they are on the screen now.
bool captureWindow(const std::string& windowId, Picture& picture);

// Saves the whole screen as a PNG into the directory named by KESTRUN_UI_SCREENSHOTS, when
// that is set, for a person to look at.
void saveScreenForReview(const std::string& name);

}  // namespace uitest
