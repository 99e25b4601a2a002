#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/ui/x_session.h"
#include "ui/progress_window.h"
#include "ui/warning_message.h"

// The real progress window and warning box on the X display named by DISPLAY. The task on
// the worker thread plays the user: it finds the window, looks at it and presses keys.
namespace {

using uitest::Picture;
using uitest::Rgb;

const Rgb kWindow{234, 241, 253};
const Rgb kTrack{216, 226, 242};
const Rgb kFill{41, 121, 255};

#define SKIP_WITHOUT_DISPLAY() \
  if (!uitest::haveDisplay()) GTEST_SKIP() << "no X display (set DISPLAY to an X server)"

// Pixels of the picture inside a box that are clearly not the plain window colour.
int inkedPixels(const Picture& picture, int x, int y, int width, int height) {
  int count = 0;
  for (int row = y; row < y + height; ++row) {
    for (int column = x; column < x + width; ++column) {
      const Rgb c = picture.at(column, row);
      if (std::abs(c.r - kWindow.r) + std::abs(c.g - kWindow.g) + std::abs(c.b - kWindow.b) > 60) ++count;
    }
  }
  return count;
}

// What the task saw of the window while it showed 1 of 3 files.
struct Sighting {
  std::string windowId;
  std::string title;
  uitest::ScreenBox box;
  Picture picture;
};

// Reports 1 of 3 and waits until the poll has drawn it (the fill's middle turns blue).
ProgressTask lookAtOneOfThree(const std::string& title, const std::string& reviewName, Sighting& seen) {
  return [title, reviewName, &seen](ui::ProgressController& controller) {
    controller.setProgress(1, 3);
    const bool drawn = uitest::waitFor([&] {
      seen.windowId = uitest::findVisibleWindow(title);
      return !seen.windowId.empty() && uitest::captureWindow(seen.windowId, seen.picture) &&
             seen.picture.at(44 + 100, 414) == kFill && inkedPixels(seen.picture, 692, 378, 64, 20) > 0;
    });
    uitest::saveScreenForReview(drawn ? reviewName : reviewName + "-not-drawn");
    if (!drawn) return false;
    seen.title = uitest::windowTitle(seen.windowId);
    return uitest::windowBox(seen.windowId, seen.box);
  };
}

void expectProgressWindow(const Sighting& seen) {
  int screenWidth = 0;
  int screenHeight = 0;
  ASSERT_TRUE(uitest::screenSize(screenWidth, screenHeight));
  EXPECT_EQ(seen.box.width, 800);
  EXPECT_EQ(seen.box.height, 461);
  EXPECT_EQ(seen.box.x, std::max(0, (screenWidth - 800) / 2));
  EXPECT_EQ(seen.box.y, std::max(0, (screenHeight - 461) / 2));

  const Picture& p = seen.picture;
  ASSERT_EQ(p.width, 800);
  ASSERT_EQ(p.height, 461);
  // The picture's plain lower part, left and right of the text and below the bar.
  for (const auto& [x, y] : {std::pair{20, 440}, {400, 445}, {780, 455}, {20, 385}, {780, 385}}) {
    EXPECT_EQ(p.at(x, y), kWindow) << x << "," << y;
  }
  // The bar at 96 DPI: (44, 410), 712 x 9; 1 of 3 fills 237 pixels. Its middle row, away
  // from the rounded ends.
  for (const int x : {44 + 20, 44 + 100, 44 + 230}) EXPECT_EQ(p.at(x, 414), kFill) << x;
  for (const int x : {44 + 245, 44 + 400, 44 + 700}) EXPECT_EQ(p.at(x, 414), kTrack) << x;
  // Text in the status box (44, 378, 648 x 20) and the percentage box (692, 378, 64 x 20).
  EXPECT_GT(inkedPixels(p, 44, 378, 648, 20), 100);
  EXPECT_GT(inkedPixels(p, 692, 378, 64, 20), 20);
  // Nothing between the text row and the bar.
  EXPECT_EQ(inkedPixels(p, 44, 399, 712, 10), 0);
}

TEST(ProgressWindow, ShowsTheCountsInTheirColoursAtTheirPlaces) {
  SKIP_WITHOUT_DISPLAY();
  Sighting seen;
  EXPECT_TRUE(runProgressWindow(false, true, lookAtOneOfThree("^Fennick ", "progress-english", seen)));
  expectProgressWindow(seen);
  EXPECT_EQ(seen.title, "Fennick Update");
}

TEST(ProgressWindow, ShowsTheChineseTextsWithTheSameLayout) {
  SKIP_WITHOUT_DISPLAY();
  Sighting seen;
  EXPECT_TRUE(runProgressWindow(true, false, lookAtOneOfThree("^Fennick ", "progress-chinese", seen)));
  expectProgressWindow(seen);
  EXPECT_EQ(seen.title, "Fennick 安装");
}

TEST(ProgressWindow, EscapeHidesTheWindowAtOnceAndCancelsTheTask) {
  SKIP_WITHOUT_DISPLAY();
  std::atomic<bool> sawCancel{false};
  std::atomic<bool> sawHidden{false};
  const ProgressTask task = [&](ui::ProgressController& controller) {
    controller.setProgress(0, 2);
    std::string id;
    if (!uitest::waitFor([&] { return !(id = uitest::findVisibleWindow("Fennick Update")).empty(); })) return false;
    // The window may be gone before the key's release arrives, which xdotool reports as a
    // failure: its exit status says nothing here.
    uitest::run("xdotool key --window " + id + " Escape");
    sawCancel = uitest::waitFor([&] { return controller.cancelRequested(); });
    sawHidden = uitest::waitFor([&] { return uitest::findVisibleWindow("Fennick Update").empty(); });
    // The window's entry hands back whatever the task returns, also after a cancellation.
    return true;
  };
  EXPECT_TRUE(runProgressWindow(false, true, task));
  EXPECT_TRUE(sawCancel);
  EXPECT_TRUE(sawHidden);
}

TEST(ProgressWindow, PressingAnywhereAndDraggingMovesTheWindow) {
  SKIP_WITHOUT_DISPLAY();
  uitest::ScreenBox before;
  uitest::ScreenBox after;
  const ProgressTask task = [&](ui::ProgressController& controller) {
    controller.setProgress(0, 1);
    std::string id;
    if (!uitest::waitFor([&] { return !(id = uitest::findVisibleWindow("Fennick Update")).empty(); })) return false;
    if (!uitest::windowBox(id, before)) return false;
    // Pressed on the status text, which must not take the press from the window. The button
    // stays down until the window has followed: the toolkit folds motion that arrives in one
    // batch with the release into a plain move, which a person's slower hand never causes.
    const int x = before.x + 100;
    const int y = before.y + 385;
    const std::string press = "xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) +
                              " mousedown 1 mousemove " + std::to_string(x + 50) + " " + std::to_string(y + 30);
    if (!uitest::run(press)) return false;
    const bool moved =
        uitest::waitFor([&] { return uitest::windowBox(id, after) && after.x == before.x + 50 && after.y == before.y + 30; });
    uitest::run("xdotool mouseup 1");
    return moved;
  };
  EXPECT_TRUE(runProgressWindow(false, true, task));
  EXPECT_EQ(after.x - before.x, 50);
  EXPECT_EQ(after.y - before.y, 30);
  EXPECT_EQ(after.width, 800);
  EXPECT_EQ(after.height, 461);
}

TEST(ProgressWindow, EndsByItselfWithTheTasksResult) {
  SKIP_WITHOUT_DISPLAY();
  struct Case {
    const char* name;
    ProgressTask task;
    bool expected;
  };
  const Case cases[] = {
      {"success", [](ui::ProgressController&) { return true; }, true},
      {"failure", [](ui::ProgressController& c) { c.setProgress(1, 2); return false; }, false},
      {"throws", [](ui::ProgressController&) -> bool { throw std::runtime_error("boom"); }, false},
      {"empty", ProgressTask(), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(runProgressWindow(false, false, c.task), c.expected) << c.name;
    EXPECT_EQ(uitest::findVisibleWindow("Fennick Installer"), "") << c.name;
  }
}

TEST(ProgressWindow, ACloseRequestAfterSuccessKeepsTheResult) {
  SKIP_WITHOUT_DISPLAY();
  // Escape goes in while the completion text is up (the bar's right end turns blue).
  std::thread user([] {
    std::string id;
    Picture picture;
    if (uitest::waitFor([&] {
          id = uitest::findVisibleWindow("Fennick Update");
          return !id.empty() && uitest::captureWindow(id, picture) && picture.at(44 + 700, 414) == kFill;
        })) {
      uitest::run("xdotool key --window " + id + " Escape");
    }
  });
  const bool result = runProgressWindow(false, true, [](ui::ProgressController&) { return true; });
  user.join();
  EXPECT_TRUE(result);
}

// What the user's side saw of a warning box, and whether the key closed it.
struct BoxSighting {
  std::string title;
  uitest::ScreenBox box;
  Picture picture;
  bool closedByKey = false;
};

void answerWarningBox(const std::string& key, const std::string& reviewName, BoxSighting& seen) {
  std::string id;
  if (!uitest::waitFor([&] { return !(id = uitest::findVisibleWindow("^Fennick ")).empty(); })) return;
  seen.title = uitest::windowTitle(id);
  uitest::windowBox(id, seen.box);
  // The sign's yellow shows once the box has drawn itself.
  uitest::waitFor([&] { return uitest::captureWindow(id, seen.picture) && seen.picture.at(32, 40).b < 100; }, 5);
  uitest::saveScreenForReview(reviewName);
  // The box may be gone before the key's release arrives: xdotool's exit status says nothing.
  uitest::run("xdotool key --window " + id + " " + key);
  seen.closedByKey = uitest::waitFor([] { return uitest::findVisibleWindow("^Fennick ").empty(); }, 10);
  // Should the key not have worked, the box is closed the other way, so that the test ends.
  if (!seen.closedByKey) uitest::run("xdotool key --window " + id + (key == "Escape" ? " Return" : " Escape"));
}

TEST(WarningMessage, ShowsACentredBoxTitledWithTheLauncherNameUntilEnterOrEscape) {
  SKIP_WITHOUT_DISPLAY();
  struct Case {
    bool chinese;
    const char* title;
    const char* text;
    const char* key;
    const char* reviewName;
  };
  const Case cases[] = {
      {false, "Fennick Launcher", "Unable to start the application. Check the launcher log or contact your administrator.",
       "Escape", "warning-english"},
      {true, "Fennick 启动器", "无法启动主程序。请检查启动器日志，或联系系统管理员。", "Return", "warning-chinese"},
      {false, "Fennick Launcher", "Download failed.", "KP_Enter", "warning-short"},
      {true, "Fennick 启动器", "@ is text, not a symbol", "Escape", "warning-at-sign"},
  };
  int screenWidth = 0;
  int screenHeight = 0;
  ASSERT_TRUE(uitest::screenSize(screenWidth, screenHeight));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.reviewName) + " " + c.key);
    BoxSighting seen;
    std::thread user(answerWarningBox, std::string(c.key), std::string(c.reviewName), std::ref(seen));
    showWarningMessage(c.chinese, c.text);
    user.join();
    EXPECT_EQ(seen.title, c.title);
    EXPECT_TRUE(seen.closedByKey);
    EXPECT_GE(seen.box.width, 320);
    EXPECT_EQ(seen.box.x, (screenWidth - seen.box.width) / 2);
    EXPECT_EQ(seen.box.y, (screenHeight - seen.box.height) / 2);
    // Text beside the sign, and the button in the lower right corner.
    const Picture& p = seen.picture;
    ASSERT_EQ(p.width, seen.box.width);
    const Rgb plain = p.at(2, 2);
    const auto inked = [&](int left, int top, int width, int height) {
      int count = 0;
      for (int y = top; y < top + height; ++y) {
        for (int x = left; x < left + width; ++x) count += p.at(x, y) == plain ? 0 : 1;
      }
      return count;
    };
    EXPECT_GT(inked(64, 14, p.width - 64 - 14, 36), 50);
    EXPECT_GT(inked(p.width - 14 - 88, p.height - 14 - 28, 88, 28), 100);
    EXPECT_EQ(inked(14, p.height - 14 - 28, p.width - 14 - 88 - 14 - 14, 28), 0) << "one button only";
  }
}

}  // namespace
