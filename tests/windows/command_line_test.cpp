// The command line the launcher builds for the main program, as a real child process
// splits it again with CommandLineToArgvW.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/support/temp_dir.h"
#include "tests/windows/child_program.h"

namespace {

using windows_tests::readNulSeparated;
using windows_tests::runChild;

std::vector<std::string> asUtf8(const std::vector<std::wstring>& texts) {
  std::vector<std::string> result;
  for (const std::wstring& text : texts) result.push_back(platform::toUtf8(text));
  return result;
}

// What the child saw after its program name, when started with `arguments`.
std::vector<std::string> argumentsSeenByChild(const std::wstring& mode, const std::vector<std::wstring>& arguments) {
  testing_support::TempDir dir;
  std::vector<std::wstring> childArguments{mode};
  childArguments.insert(childArguments.end(), arguments.begin(), arguments.end());
  EXPECT_EQ(runChild(childArguments, dir.path()), 0u);
  std::vector<std::string> seen = readNulSeparated(dir / (platform::toUtf8(mode) + ".txt"));
  if (!seen.empty() && seen.front() == platform::toUtf8(mode)) seen.erase(seen.begin());
  return seen;
}

TEST(CommandLineRoundTrip, ChildSeesEveryForwardedArgumentUnchanged) {
  const struct {
    const char* name;
    std::vector<std::wstring> arguments;
  } cases[] = {
      {"no arguments", {}},
      {"plain word", {L"word"}},
      {"spaces", {L"first arg", L"  two  blanks  "}},
      {"double quotes", {L"say \"hi\"", L"\"", L"\"\""}},
      {"empty arguments", {L"", L"after empty", L""}},
      {"backslashes not before a quote", {L"C:\\App\\Vardel.exe", L"\\\\server\\share\\x", L"a\\\\b c"}},
      {"URL of a registered scheme", {L"vardel://open?item=1&name=a%20b#top"}},
      {"URL then --updated", {L"oloma://x/y", L"--updated"}},
      {"non-ASCII text", {L"中文 参数", L"\u00e9t\u00e9"}},
      {"tab and shell characters", {L"a\tb", L"<>|&^%PATH%"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(argumentsSeenByChild(L"argv", c.arguments), asUtf8(c.arguments)) << c.name;
  }
}

// The launcher copies backslashes as they are, also in front of a quote it adds, exactly as
// its forwarding rule says; Windows' splitting then reads "\"" as a literal quote and "\\"
// before a quote as one backslash. Arguments of this shape reach the main program changed,
// as below; the launcher forwards them as it received them all the same.
TEST(CommandLineRoundTrip, BackslashBeforeAQuoteIsReadTheWindowsWay) {
  const struct {
    const char* name;
    std::vector<std::wstring> arguments;
    std::vector<std::wstring> seen;
  } cases[] = {
      // "C:\dir\" "next": the last backslash escapes the closing quote, so the quoted
      // part runs on through the blank, and the rest joins the same argument.
      {"trailing backslash", {L"C:\\dir\\", L"next"}, {L"C:\\dir\" next"}},
      {"trailing backslash, last argument", {L"C:\\dir\\"}, {L"C:\\dir\""}},
      // "a\\"b": two backslashes before the quote are one backslash, and the quote ends
      // the quoted part.
      {"backslash before a quote", {L"a\\\"b"}, {L"a\\b"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(argumentsSeenByChild(L"argv", c.arguments), asUtf8(c.seen)) << c.name;
  }
}

TEST(LauncherArguments, StartedProgramReadsTheArgumentsItWasGiven) {
  const std::vector<std::wstring> arguments{L"vardel://open?x=1", L"", L"with space", L"say \"hi\"", L"--updated"};
  EXPECT_EQ(argumentsSeenByChild(L"launcher-args", arguments), asUtf8(arguments));
}

}  // namespace
