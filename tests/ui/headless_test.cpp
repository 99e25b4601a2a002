#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/window.h"
#include "tests/support/test_system.h"
#include "ui/progress_window.h"
#include "ui/ui_font.h"
#include "ui/warning_message.h"

// Runs with DISPLAY emptied: no window can be opened, and nothing may end the process.
namespace {

#define SKIP_WITH_DISPLAY() \
  if (platform::hasDisplay()) \
  GTEST_SKIP() << "a display is reachable (Windows always has one; on Linux run with DISPLAY unset)"

TEST(NoDisplay, TheTaskStillRunsOnAWorkerThreadAndItsResultComesBack) {
  SKIP_WITH_DISPLAY();
  struct Case {
    const char* name;
    bool reports;
    bool result;
    bool throws;
    bool expected;
  };
  const Case cases[] = {
      {"true", true, true, false, true},
      {"false", true, false, false, false},
      {"throws", false, true, true, false},
  };
  for (const Case& c : cases) {
    std::thread::id ranOn;
    const ProgressTask task = [&](ui::ProgressController& controller) {
      ranOn = std::this_thread::get_id();
      if (c.reports) controller.setProgress(1, 2);
      if (c.throws) throw std::runtime_error("boom");
      return c.result && !controller.cancelRequested();
    };
    EXPECT_EQ(runProgressWindow(false, true, task), c.expected) << c.name;
    EXPECT_NE(ranOn, std::thread::id()) << c.name;
    EXPECT_NE(ranOn, std::this_thread::get_id()) << c.name;
  }
  EXPECT_FALSE(runProgressWindow(true, false, ProgressTask()));
}

TEST(NoDisplay, AWarningGoesToStandardErrorWithItsCaption) {
  SKIP_WITH_DISPLAY();
  struct Case {
    bool chinese;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {false, "No application files are currently available on the server.",
       "Fennick Launcher: No application files are currently available on the server.\n"},
      {true, "服务器暂无可用的程序内容。", "Fennick 启动器: 服务器暂无可用的程序内容。\n"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    showWarningMessage(c.chinese, c.text);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.expected);
  }
}

// ---- what the executable carries ------------------------------------------------------

std::uint32_t bigEndian32(const std::vector<unsigned char>& bytes, std::size_t at) {
  return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
         (std::uint32_t{bytes[at + 2]} << 8) | std::uint32_t{bytes[at + 3]};
}

struct PngHeader {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int bitDepth = 0;
  int colourType = 0;
};

bool readPngHeader(const std::vector<unsigned char>& png, PngHeader& header) {
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (png.size() < 33 || !std::equal(kSignature, kSignature + 8, png.begin())) return false;
  if (std::string(png.begin() + 12, png.begin() + 16) != "IHDR") return false;
  header.width = bigEndian32(png, 16);
  header.height = bigEndian32(png, 20);
  header.bitDepth = png[24];
  header.colourType = png[25];
  return true;
}

TEST(EmbeddedPictures, TheBackgroundIsA1500By864RgbaPng) {
  std::vector<unsigned char> png;
  ASSERT_TRUE(platform::loadBackgroundPng(png));
  PngHeader header;
  ASSERT_TRUE(readPngHeader(png, header));
  EXPECT_EQ(header.width, 1500u);
  EXPECT_EQ(header.height, 864u);
  EXPECT_EQ(header.bitDepth, 8);
  EXPECT_EQ(header.colourType, 6);  // truecolour with alpha
}

TEST(EmbeddedPictures, TheWindowIconIsASquareRgbaPng) {
  if (testing_support::kWindowsBuild) {
    GTEST_SKIP() << "Windows takes the icon group instead (tests/windows_window checks it)";
  }
  std::vector<unsigned char> png;
  ASSERT_TRUE(platform::loadWindowIconPng(png));
  PngHeader header;
  ASSERT_TRUE(readPngHeader(png, header));
  EXPECT_GE(header.width, 16u);
  EXPECT_EQ(header.width, header.height);
  EXPECT_EQ(header.colourType, 6);
}

// ---- the face for both languages ------------------------------------------------------

TEST(UiFont, AFaceThatBeginsWithAStyleMarkIsOpenedInTheRegularStyle) {
  struct Case {
    const char* face;
    const char* name;
  };
  const Case cases[] = {
      {"Microsoft YaHei", "Microsoft YaHei"},
      {"WenQuanYi Zen Hei", "WenQuanYi Zen Hei"},
      {"IPAGothic", " IPAGothic"},
      {"Baekmuk Gulim", " Baekmuk Gulim"},
      {"PingFang SC", " PingFang SC"},
      {" sans", "  sans"},
      {"sans", "sans"},
  };
  for (const Case& c : cases) EXPECT_EQ(ui::toolkitFontName(c.face), c.name) << c.face;
}

}  // namespace
