#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct CommandLineCase {
  const char* name;
  std::vector<std::wstring> arguments;
  std::wstring expected;
};

TEST(BuildCommandLine, QuotesProgramAndEveryArgumentEscapingOnlyQuotes) {
  const std::wstring program = L"C:\\App\\Vardel.exe";
  const std::vector<CommandLineCase> cases = {
      {"no arguments", {}, L"\"C:\\App\\Vardel.exe\""},
      {"plain", {L"--updated"}, L"\"C:\\App\\Vardel.exe\" \"--updated\""},
      {"space inside", {L"first arg"}, L"\"C:\\App\\Vardel.exe\" \"first arg\""},
      {"quotes inside", {L"say \"hi\""}, L"\"C:\\App\\Vardel.exe\" \"say \\\"hi\\\"\""},
      {"backslash before quote", {L"a\\\"b"}, L"\"C:\\App\\Vardel.exe\" \"a\\\\\"b\""},
      {"backslash at end", {L"C:\\dir\\"}, L"\"C:\\App\\Vardel.exe\" \"C:\\dir\\\""},
      {"empty argument", {L""}, L"\"C:\\App\\Vardel.exe\" \"\""},
      {"url", {L"vardel://open?id=1"}, L"\"C:\\App\\Vardel.exe\" \"vardel://open?id=1\""},
      {"several in order",
       {L"first arg", L"say \"hi\""},
       L"\"C:\\App\\Vardel.exe\" \"first arg\" \"say \\\"hi\\\"\""},
      {"empty between others", {L"a", L"", L"b"}, L"\"C:\\App\\Vardel.exe\" \"a\" \"\" \"b\""},
  };
  for (const CommandLineCase& c : cases) {
    EXPECT_EQ(platform::buildCommandLine(program, c.arguments), c.expected) << c.name;
  }
}

TEST(BuildCommandLine, ProgramPathIsQuotedAsItIs) {
  EXPECT_EQ(platform::buildCommandLine(L"C:\\Program Files\\Fennick\\Vardel.exe", {}),
            L"\"C:\\Program Files\\Fennick\\Vardel.exe\"");
}

}  // namespace
