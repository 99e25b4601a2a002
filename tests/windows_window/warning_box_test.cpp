#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "platform/window.h"
#include "tests/support/win32/message_box.h"

namespace {

// Waits for the dialog box of this process, reads it and presses OK.
void answerBox(std::optional<testing_support::MessageBoxText>& seen) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  HWND box = nullptr;
  while (!(box = testing_support::findMessageBox(GetCurrentProcessId())) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!box) return;
  seen = testing_support::readMessageBox(box);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
}

TEST(WarningBox, ShowsCaptionAndTextUntilOkIsPressed) {
  struct Case {
    const char* caption;
    const char* text;
    const wchar_t* expectedCaption;
    const wchar_t* expectedText;
  };
  const Case cases[] = {
      {"Fennick Launcher", "No application files are currently available on the server.", L"Fennick Launcher",
       L"No application files are currently available on the server."},
      {"Fennick 启动器", "服务器暂无可用的程序内容。", L"Fennick \u542F\u52A8\u5668",
       L"\u670D\u52A1\u5668\u6682\u65E0\u53EF\u7528\u7684\u7A0B\u5E8F\u5185\u5BB9\u3002"},
      // Not UTF-8: shown empty rather than garbled.
      {"Fennick Launcher", "bad \xff\xfe text", L"Fennick Launcher", L""},
  };
  for (const Case& c : cases) {
    std::optional<testing_support::MessageBoxText> seen;
    std::thread user(answerBox, std::ref(seen));
    platform::showWarningBox(c.caption, c.text);
    user.join();
    ASSERT_TRUE(seen) << c.caption;
    EXPECT_EQ(seen->caption, c.expectedCaption);
    EXPECT_EQ(seen->text, c.expectedText);
  }
}

}  // namespace
