#include "x_session.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/window.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace uitest {

namespace {

std::string quoted(const std::string& text) {
  std::string result = "'";
  for (const char c : text) {
    if (c == '\'') {
      result += "'\\''";
    } else {
      result += c;
    }
  }
  return result + "'";
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const Rgb& colour) {
  return out << "(" << colour.r << ", " << colour.g << ", " << colour.b << ")";
}

bool haveDisplay() {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return false;
  // One connection held for the whole test program: an X server without clients resets
  // itself and turns connections away meanwhile, which must not happen between two tests.
  static void* const held = platform::connectDisplay();
  return held != nullptr;
}

bool run(const std::string& command, std::string* output) {
  const testing_support::TempDir scratch;
  const std::filesystem::path outFile = scratch / "out.txt";
  // KESTRUN_UI_TOOL_LOG names a file that collects the tools' complaints, for diagnosis.
  const char* toolLog = std::getenv("KESTRUN_UI_TOOL_LOG");
  const std::string errors = toolLog && *toolLog ? " 2>>" + quoted(toolLog) : " 2>/dev/null";
  const std::string line = "{ " + command + "; }" + " > " + quoted(outFile.string()) + errors;
  const int status = std::system(line.c_str());
  if (output) {
    std::ifstream in(outFile, std::ios::binary);
    output->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return status == 0;
}

bool waitFor(const std::function<bool()>& condition, double seconds) {
  return testing_support::waitUntil(condition, static_cast<int>(seconds * 1000));
}

std::string findVisibleWindow(const std::string& title) {
  std::string output;
  if (!run("xdotool search --onlyvisible --name " + quoted(title), &output)) return "";
  std::istringstream lines(output);
  std::string first;
  std::getline(lines, first);
  return first;
}

std::string windowTitle(const std::string& windowId) {
  std::string output;
  if (!run("xdotool getwindowname " + windowId, &output)) return "";
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

bool windowBox(const std::string& windowId, ScreenBox& box) {
  std::string output;
  if (!run("xdotool getwindowgeometry --shell " + windowId, &output)) return false;
  std::istringstream lines(output);
  std::string line;
  int found = 0;
  while (std::getline(lines, line)) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const int value = std::atoi(line.c_str() + equals + 1);
    int* field = key == "X" ? &box.x : key == "Y" ? &box.y : key == "WIDTH" ? &box.width
                 : key == "HEIGHT" ? &box.height : nullptr;
    if (!field) continue;
    *field = value;
    ++found;
  }
  return found == 4;
}

bool screenSize(int& width, int& height) {
  std::string output;
  if (!run("xdotool getdisplaygeometry", &output)) return false;
  std::istringstream in(output);
  return static_cast<bool>(in >> width >> height);
}

Rgb Picture::at(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return {-1, -1, -1};
  const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
  return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

bool captureWindow(const std::string& windowId, Picture& picture) {
  const testing_support::TempDir scratch;
  const std::filesystem::path file = scratch / "window.ppm";
  if (!run("import -window " + windowId + " -depth 8 ppm:" + quoted(file.string()))) return false;
  std::ifstream in(file, std::ios::binary);
  std::string magic;
  int maxValue = 0;
  if (!(in >> magic >> picture.width >> picture.height >> maxValue) || magic != "P6" || maxValue != 255) {
    return false;
  }
  in.get();  // the one blank after the header
  picture.rgb.assign(static_cast<std::size_t>(picture.width) * picture.height * 3, 0);
  in.read(reinterpret_cast<char*>(picture.rgb.data()), static_cast<std::streamsize>(picture.rgb.size()));
  return static_cast<std::size_t>(in.gcount()) == picture.rgb.size();
}

void saveScreenForReview(const std::string& name) {
  const char* directory = std::getenv("KESTRUN_UI_SCREENSHOTS");
  if (!directory || !*directory) return;
  run("import -window root " + quoted((std::filesystem::path(directory) / (name + ".png")).string()));
}

}  // namespace uitest
