#include <windows.h>

#include <gtest/gtest.h>

#include "platform/window.h"

namespace {

// A plain popup window that starts as a tool window, as the toolkit makes a borderless one.
class PlainWindow {
 public:
  PlainWindow(int width, int height) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KestrunPlainWindow";
    RegisterClassW(&windowClass);  // fails harmlessly when the class exists already
    handle_ = CreateWindowExW(WS_EX_TOOLWINDOW, L"KestrunPlainWindow", L"Plain", WS_POPUP, 10, 20, width, height,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (handle_) ShowWindow(handle_, SW_SHOW);
  }
  ~PlainWindow() {
    if (handle_) DestroyWindow(handle_);
  }
  PlainWindow(const PlainWindow&) = delete;
  PlainWindow& operator=(const PlainWindow&) = delete;
  HWND get() const { return handle_; }

 private:
  HWND handle_ = nullptr;
};

LONG_PTR extendedStyle(HWND window) { return GetWindowLongPtrW(window, GWL_EXSTYLE); }

TEST(WindowsDpi, TheDpiFunctionsAnswer) {
  platform::enableDpiAwareness();
  platform::enableDpiAwareness();  // asking twice is harmless
  const int dpi = platform::screenDpi();
  EXPECT_GE(dpi, 72);
  EXPECT_LE(dpi, 960);
  EXPECT_TRUE(platform::hasDisplay());
  EXPECT_EQ(platform::connectDisplay(), nullptr);
  EXPECT_EQ(platform::uiFontFace(), "Microsoft YaHei");
}

TEST(DecorateShownWindow, GivesATaskbarButtonPlacesItTopmostInTheMiddleAndSetsTheIcons) {
  struct Case {
    int width;
    int height;
  };
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  const Case cases[] = {
      {300, 200},
      {301, 201},  // halves truncate
      // Larger than the screen: centred all the same, so the position is negative.
      {screenWidth + 200, screenHeight + 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    platform::WindowDecorationOwner decoration;
    {
      const PlainWindow window(c.width, c.height);
      ASSERT_NE(window.get(), nullptr);
      ASSERT_TRUE(extendedStyle(window.get()) & WS_EX_TOOLWINDOW);

      decoration = platform::decorateShownWindow(window.get());
      ASSERT_NE(decoration, nullptr);

      const LONG_PTR style = extendedStyle(window.get());
      EXPECT_TRUE(style & WS_EX_APPWINDOW);
      EXPECT_FALSE(style & WS_EX_TOOLWINDOW);
      EXPECT_TRUE(style & WS_EX_TOPMOST);
      EXPECT_TRUE(IsWindowVisible(window.get()));
      EXPECT_EQ(GetForegroundWindow(), window.get());

      RECT outer;
      ASSERT_TRUE(GetWindowRect(window.get(), &outer));
      EXPECT_EQ(outer.left, (screenWidth - c.width) / 2);
      EXPECT_EQ(outer.top, (screenHeight - c.height) / 2);
      EXPECT_EQ(outer.right - outer.left, c.width);
      EXPECT_EQ(outer.bottom - outer.top, c.height);

      // The executable's own icon group, large and small.
      EXPECT_NE(SendMessageW(window.get(), WM_GETICON, ICON_BIG, 0), 0);
      EXPECT_NE(SendMessageW(window.get(), WM_GETICON, ICON_SMALL, 0), 0);
    }
    decoration.reset();  // the icons go only after the window
  }
}

TEST(DecorateShownWindow, NoHandleDoesNothing) { EXPECT_EQ(platform::decorateShownWindow(nullptr), nullptr); }

}  // namespace
